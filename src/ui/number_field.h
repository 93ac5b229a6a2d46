#pragma once

#include "core/text/code_page.h"

#include <utility>

#include <QLineEdit>

namespace varnook::ui {

// txtStart and txtStep: typing takes digits only (control keys and
// double-byte characters pass, as they always have), and the whole text is
// selected when the field gets the focus, however it comes.
class NumberField : public QLineEdit {
    Q_OBJECT

public:
    NumberField(int limit, CodePage codePage, QWidget* parent);

    // The key filter on a character's code in the code page (a double-byte
    // character as lead byte * 256 + trail byte): returns the code to
    // deliver, 0 to swallow it.
    static int KeyPress(int keyAscii);

    // The code the key filter judges for a typed character: its byte, or its
    // two bytes, in the code page; '?' when the code page has no form for it.
    int codeOf(QChar character) const;

    // Text put in by the program (the remembered value): taken whole, even
    // when it is longer than typing may make it.
    void setStoredText(const QString& text);

    void setCodePage(CodePage codePage) { codePage_ = std::move(codePage); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;

private:
    void GotFocus();

    int typingLimit_;
    CodePage codePage_;
};

} // namespace varnook::ui
