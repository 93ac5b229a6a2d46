#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QFrame;

namespace varnook::ui {

// "Version Information": which tool and which version this is.
class frmAbout : public QDialog {
    Q_OBJECT

public:
    explicit frmAbout(QWidget* parent = nullptr);

    QLabel* lblTitle;
    QLabel* lblVersion;
    QLabel* Label1;
    QFrame* Line1Grey;
    QFrame* Line1White;
    QLabel* lblDisclaimer;
    QPushButton* cmdOK;

protected:
    void changeEvent(QEvent* event) override;

private:
    void Form_Load();
};

} // namespace varnook::ui
