#include "frm_about.h"

#include "twips.h"

#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace varnook::ui {
namespace {

QFrame* line(QWidget* parent, const QRect& place, const QColor& colour)
{
    auto* frame = new QFrame(parent);
    frame->setGeometry(place);
    frame->setAutoFillBackground(true);
    QPalette palette = frame->palette();
    palette.setColor(QPalette::Window, colour);
    frame->setPalette(palette);
    return frame;
}

} // namespace

frmAbout::frmAbout(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Version Information"));
    // Without the customize hint the window manager adds minimize and
    // maximize, and minimizing a modal dialog hides the whole program.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(px(5730), px(2220));
    setModal(true);
    QFont standard = font();
    standard.setPointSize(8);
    setFont(standard);

    QFont large = font();
    large.setPointSizeF(13.5);
    lblTitle = new QLabel(QStringLiteral("Varnook"), this);
    lblTitle->setGeometry(twipRect(720, 240, 4725, 480));
    lblTitle->setFont(large);
    lblVersion = new QLabel(QStringLiteral("Ver."), this);
    lblVersion->setGeometry(twipRect(3360, 695, 2085, 345));
    lblVersion->setFont(large);
    Label1 = new QLabel(QStringLiteral("Copyright (C) 2026 the Varnook developers"), this);
    Label1->setGeometry(twipRect(240, 1200, 5295, 255));
    // An etched separator: a grey line over a white one.
    Line1Grey = line(this, QRect(px(90), px(1485), px(5564), 1), QColor(128, 128, 128));
    Line1White = line(this, QRect(px(105), px(1485) + 1, px(5549), 2), Qt::white);
    lblDisclaimer = new QLabel(
        QStringLiteral("Hewlett-Packard(R) and HP(R) are registered trademarks of the Hewlett-Packard Company."), this);
    lblDisclaimer->setGeometry(twipRect(255, 1665, 3750, 465));
    lblDisclaimer->setWordWrap(true);
    cmdOK = new QPushButton(QStringLiteral("OK"), this);
    cmdOK->setGeometry(twipRect(4245, 1665, 1380, 345));
    // OK is the default button (Enter); Esc rejects the dialog, which closes it alike.
    cmdOK->setDefault(true);
    cmdOK->setFocus();
    connect(cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    Form_Load();
}

void frmAbout::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    // A window manager may still offer to minimize it from its window menu,
    // and with it the main window, which waits for it: the program would
    // vanish. Both come back at once.
    if (event->type() == QEvent::WindowStateChange && isMinimized()) {
        QTimer::singleShot(0, this, [this] {
            for (QWidget* window :
                 {parentWidget() != nullptr ? parentWidget()->window() : nullptr, static_cast<QWidget*>(this)}) {
                if (window != nullptr && window->isMinimized()) {
                    window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
                }
            }
        });
    }
}

void frmAbout::Form_Load()
{
    lblVersion->setText(QStringLiteral("Ver. %1.%2.%3")
                            .arg(VARNOOK_VERSION_MAJOR)
                            .arg(VARNOOK_VERSION_MINOR)
                            .arg(VARNOOK_VERSION_PATCH));
}

} // namespace varnook::ui
