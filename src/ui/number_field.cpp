#include "number_field.h"

#include "core/base/failure.h"

#include <QKeyEvent>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <utility>

namespace varnook::ui {

NumberField::NumberField(int limit, CodePage codePage, QWidget* parent)
    : QLineEdit(parent),
      typingLimit_(limit),
      codePage_(std::move(codePage))
{
    setMaxLength(limit);
    // A longer stored text keeps its length until editing brings it down to
    // the limit, which then holds again.
    connect(this, &QLineEdit::textChanged, this, [this](const QString& text) {
        if (maxLength() != typingLimit_ && text.size() <= typingLimit_) {
            setMaxLength(typingLimit_);
        }
    });
}

void NumberField::setStoredText(const QString& text)
{
    setMaxLength(std::max(typingLimit_, static_cast<int>(text.size())));
    setText(text);
}

int NumberField::codeOf(QChar character) const
{
    try {
        const Bytes bytes = codePage_.fromUtf8(QString(character).toStdString());
        if (bytes.size() == 1) {
            return bytes[0];
        }
        if (bytes.size() == 2) {
            return bytes[0] * 256 + bytes[1];
        }
    } catch (const Failure&) {
    }
    return '?';
}

int NumberField::KeyPress(int keyAscii)
{
    // As a signed 16-bit code, double-byte characters (32768 and up) read as
    // negative and pass with the control characters.
    const auto code = static_cast<std::int16_t>(keyAscii);
    if (code < 32) {
        return keyAscii;
    }
    if (code >= '0' && code <= '9') {
        return keyAscii;
    }
    return 0;
}

void NumberField::keyPressEvent(QKeyEvent* event)
{
    // Only typed characters are judged: editing keys (Delete, which X11 and
    // Wayland deliver with the text U+007F, Backspace, arrows, shortcuts)
    // are the field's.
    const QString text = event->text();
    if (!text.isEmpty() && text.at(0).isPrint() && KeyPress(codeOf(text.at(0))) == 0) {
        event->accept(); // swallowed: no change, no sound
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void NumberField::focusInEvent(QFocusEvent* event)
{
    QLineEdit::focusInEvent(event);
    GotFocus();
    // A mouse click places the caret after the focus arrives: select again
    // once the click is handled.
    QTimer::singleShot(0, this, [this] {
        if (hasFocus()) {
            GotFocus();
        }
    });
}

void NumberField::GotFocus()
{
    setSelection(0, static_cast<int>(text().size()));
}

} // namespace varnook::ui
