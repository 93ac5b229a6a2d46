#include "frm_main.h"

#include "disk_view.h"
#include "frm_about.h"
#include "number_field.h"
#include "twips.h"
#include "volume_dialogs.h"
#include "window_manager.h"

#include "core/base/failure.h"
#include "operations/file_commands.h"
#include "operations/operation_frame.h"
#include "settings/module1.h"
#include "settings/remembered_state.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextDocument>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <cmath>

// Resources of a static library are registered by hand.
static void initialiseResources()
{
    Q_INIT_RESOURCE(varnook);
}

namespace varnook::ui {
namespace {

using settings::RememberedState;

// The client area when the window is created, which is also its minimum.
constexpr int kClientWidth = 7935;
constexpr int kClientHeight = 5865;
// The frame assumed until the window system tells the real one: 60 twips at
// the sides and bottom, 345 at the top with the caption.
const QMargins kAssumedFrame(px(60), px(345), px(60), px(60));

// The group boxes draw their title on the frame line, as the program's
// original platform does, so the controls inside keep their places.
const char* kGroupStyle =
    "QGroupBox { border: 1px solid palette(mid); border-radius: 2px; margin-top: 6px; }"
    "QGroupBox::title { subcontrol-origin: margin; subcontrol-position: top left; left: 6px; padding: 0 2px; }";

} // namespace

frmMain::frmMain(QWidget* parent) : QWidget(parent), CommonDialog1(this), codePage_(CodePage::fromEnvironment())
{
    createControls();
    Form_Load();
    // Writing HP BASIC ASCII into a disk image adds the program to it.
    CommonDialog1.keepsFile = [this](const QString& file) {
        try {
            return opWriteHp->isChecked() && lif::isVolumeFile(file.toStdString());
        } catch (const Failure&) {
            return false;
        }
    };
    // The frame a window manager puts around the window arrives without an
    // event of Qt's: the remembered outer rectangle is applied when it does.
    frameWatcher_ = std::make_unique<FrameWatcher>([this] { trackFrame(); });
}

frmMain::~frmMain() = default;

// The Read and Write frames: the two format options and the command button,
// at the same places in both.
QGroupBox* frmMain::optionGroup(const QString& title, const QRect& place, const QString& command, QRadioButton*& hp,
                                QRadioButton*& txt, QPushButton*& button)
{
    auto* frame = new QGroupBox(title, this);
    frame->setGeometry(place);
    frame->setStyleSheet(QString::fromLatin1(kGroupStyle));
    hp = new QRadioButton(QStringLiteral("HP BASIC ASCII"), frame);
    hp->setGeometry(twipRect(120, 200, 1695, 255));
    txt = new QRadioButton(QStringLiteral("TXT"), frame);
    txt->setGeometry(twipRect(120, 450, 1695, 255));
    button = new QPushButton(command, frame);
    button->setGeometry(twipRect(1920, 240, 1215, 375));
    return frame;
}

void frmMain::createControls()
{
    setUpWindow();
    createOptionGroups();
    createDocumentArea();
    createStatusBar();
    nameControls();
    setUpKeyboard();
    connectHandlers();
    controlsMade_ = true;
    fitToStyle();
}

namespace {

// A control's size: the layout's, grown to what the style needs to show it whole.
QSize grown(const QWidget* control, int width, int height)
{
    const QSize hint = control->sizeHint();
    return QSize(std::max(px(width), hint.width()), std::max(px(height), hint.height()));
}

} // namespace

void frmMain::fitToStyle()
{
    // The Read and Write frames: the two options, the command button to
    // their right.
    const auto frame = [](QGroupBox* box, QRadioButton* hp, QRadioButton* txt, QPushButton* button) {
        const QSize option = grown(hp, 1695, 255).expandedTo(grown(txt, 1695, 255));
        hp->setGeometry(QRect(QPoint(px(120), px(200)), option));
        txt->setGeometry(QRect(QPoint(px(120), std::max(px(450), hp->geometry().bottom() + 1)), option));
        const QSize size = grown(button, 1215, 375);
        button->setGeometry(QRect(QPoint(std::max(px(1920), hp->geometry().right() + px(105)), px(240)), size));
        box->resize(std::max(px(3255), button->geometry().right() + px(120)), box->height());
    };
    frame(Frame1, opReadHp, opReadTxt, cmdRead);
    frame(Frame2, opWriteHp, opWriteTxt, cmdWrite);

    // The numbering frame, its check box on its upper edge as its title, and
    // the row of Start and Step; a label keeps its gap to the field it names.
    const QSize check = grown(chkLineNum, 1755, 195);
    const int line = px(90); // the frame line, below the frame's top
    const int lnopTop = std::max(px(720), opReadTxt->geometry().bottom() + 1 + check.height() / 2 - line);
    const int fieldHeight = std::max(px(270), txtStart->sizeHint().height());
    const int rowTop = std::max(px(180), line + check.height() / 2 - px(15));
    int right = 0;
    for (const auto& [label, field, fieldLeft] :
         {std::tuple{Label1, txtStart, 720}, std::tuple{Label2, txtStep, 2040}}) {
        const QSize caption = grown(label, 495, 195);
        // A label grows to the left as far as the control before it allows.
        const int fieldX = std::max(px(fieldLeft), std::max(right, px(60)) + caption.width() + px(45));
        field->setGeometry(fieldX, rowTop, px(675), fieldHeight);
        label->setGeometry(fieldX - px(45) - caption.width(), rowTop + (fieldHeight - caption.height()) / 2,
                           caption.width(), caption.height());
        right = field->geometry().right() + px(105);
    }
    FrameLNOP->setGeometry(px(300), lnopTop, std::max(px(2835), right),
                           std::max(px(555), rowTop + fieldHeight + px(105)));
    chkLineNum->setGeometry(QRect(QPoint(px(360), lnopTop + line - check.height() / 2), check));
    Frame1->resize(std::max(Frame1->width(), FrameLNOP->geometry().right() + px(180)),
                   std::max(px(1395), FrameLNOP->geometry().bottom() + px(120)));
    Frame2->setGeometry(std::max(px(3600), Frame1->geometry().right() + px(225)), px(120), Frame2->width(),
                        std::max(px(735), opWriteTxt->geometry().bottom() + px(60)));

    // Under the Write frame the code page; to the right the version and disk buttons.
    const QSize version = grown(cmdVer, 855, 255);
    const int rowY = std::max({px(1050), Frame2->geometry().bottom() + px(60), px(600) + version.height() + px(45)});
    const QSize combo = grown(cboCodePage, 1800, 330);
    const QSize caption = grown(lblCodePage, 900, 255);
    lblCodePage->setGeometry(Frame2->x(), rowY + (combo.height() - caption.height()) / 2, caption.width(),
                             caption.height());
    cboCodePage->setGeometry(QRect(QPoint(lblCodePage->geometry().right() + px(60), rowY), combo));
    const QSize disks = grown(cmdDisk, 855, 330).expandedTo(QSize(version.width(), 0));
    const int buttonsX =
        std::max({px(6960), Frame2->geometry().right() + px(105), cboCodePage->geometry().right() + px(105)});
    cmdVer->setGeometry(QRect(QPoint(buttonsX, px(600)), QSize(disks.width(), version.height())));
    cmdDisk->setGeometry(QRect(QPoint(buttonsX, rowY), disks));

    // The document starts below all of it; the window's minimum grows with it.
    documentTop_ =
        std::max({px(1560), Frame1->geometry().bottom() + px(45), cboCodePage->geometry().bottom() + px(90)});
    setMinimumSize(std::max(px(kClientWidth), cmdDisk->geometry().right() + px(120)),
                   px(kClientHeight) + documentTop_ - px(1560));
    LayoutControls();
}

// The window itself: title, font, icon, size.
void frmMain::setUpWindow()
{
    initialiseResources();
    setWindowTitle(QStringLiteral("Varnook[*]"));
    QFont standard = font();
    standard.setPointSize(8);
    setFont(standard);
    QIcon icon(QStringLiteral(":/varnook/varnook.svg"));
    icon.addFile(QStringLiteral(":/varnook/varnook-16.png"), QSize(16, 16));
    icon.addFile(QStringLiteral(":/varnook/varnook-32.png"), QSize(32, 32));
    setWindowIcon(icon);
    setAcceptDrops(true);
    resize(px(kClientWidth), px(kClientHeight));
    setMinimumSize(px(kClientWidth), px(kClientHeight));
}

// Read (with the numbering group), Write and the version button.
void frmMain::createOptionGroups()
{
    Frame1 = optionGroup(QStringLiteral("Read"), twipRect(120, 120, 3255, 1395), QStringLiteral("Read File"), opReadHp,
                         opReadTxt, cmdRead);

    FrameLNOP = new QGroupBox(Frame1);
    FrameLNOP->setGeometry(twipRect(300, 720, 2835, 555));
    Label1 = new QLabel(QStringLiteral("Start :"), FrameLNOP);
    Label1->setGeometry(twipRect(180, 240, 495, 195));
    txtStart = new NumberField(6, codePage_, FrameLNOP);
    txtStart->setGeometry(twipRect(720, 180, 675, 270));
    Label2 = new QLabel(QStringLiteral("Step :"), FrameLNOP);
    Label2->setGeometry(twipRect(1560, 240, 495, 195));
    txtStep = new NumberField(5, codePage_, FrameLNOP);
    txtStep->setGeometry(twipRect(2040, 180, 675, 270));
    // The check box sits on the frame's upper edge and is its title.
    chkLineNum = new QCheckBox(QStringLiteral("Insert LineNumber"), Frame1);
    chkLineNum->setGeometry(twipRect(360, 720, 1755, 195));
    chkLineNum->setAutoFillBackground(true);
    chkLineNum->setChecked(true);
    chkLineNum->raise();

    Frame2 = optionGroup(QStringLiteral("Write"), twipRect(3600, 120, 3255, 735), QStringLiteral("Write File"),
                         opWriteHp, opWriteTxt, cmdWrite);

    cmdVer = new QPushButton(QStringLiteral("Ver.Info"), this);
    cmdVer->setGeometry(twipRect(6960, 600, 855, 255));
    cmdDisk = new QPushButton(QStringLiteral("Disks..."), this);

    // The code page of text files and of the characters of program files,
    // under the Write frame.
    lblCodePage = new QLabel(QStringLiteral("Code page :"), this);
    cboCodePage = new QComboBox(this);
    for (const auto& name : CodePage::names()) {
        cboCodePage->addItem(QString::fromStdString(name));
    }
    lblCodePage->setBuddy(cboCodePage);
}

void frmMain::createDocumentArea()
{
    txtData = new QPlainTextEdit(this);
    txtData->setGeometry(twipRect(120, 1620, 7755, 3795));
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    fixed.setPointSize(9);
    txtData->setFont(fixed);
    txtData->setLineWrapMode(QPlainTextEdit::NoWrap);
    // Tab moves on to the next control, as in every other control of the window.
    txtData->setTabChangesFocus(true);
    txtData->viewport()->installEventFilter(this);
    connect(txtData, &QPlainTextEdit::textChanged, this, [this] { documentCopy_.reset(); });
    connect(txtData->document(), &QTextDocument::modificationChanged, this, &QWidget::setWindowModified);
}

// The status bar's panel, the progress bar over it, and the timer that moves it.
void frmMain::createStatusBar()
{
    StatusBar1 = new QFrame(this);
    StatusBar1Panel1 = new QLabel(StatusBar1);
    StatusBar1Panel1->setFrameShape(QFrame::Panel);
    StatusBar1Panel1->setFrameShadow(QFrame::Sunken);
    StatusBar1Panel1->setIndent(px(60));
    StatusBar1Panel1->setGeometry(twipRect(0, 30, 2500, 345));
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setTextVisible(false);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->raise();

    Timer1 = new QTimer(this);
    Timer1->setInterval(250);
}

void frmMain::nameControls()
{
    // Named as the program knows them, for accessibility tools and tests.
    const std::pair<QObject*, const char*> names[] = {{Frame1, "Frame1"},
                                                      {opReadHp, "opReadHp"},
                                                      {opReadTxt, "opReadTxt"},
                                                      {cmdRead, "cmdRead"},
                                                      {chkLineNum, "chkLineNum"},
                                                      {FrameLNOP, "FrameLNOP"},
                                                      {Label1, "Label1"},
                                                      {txtStart, "txtStart"},
                                                      {Label2, "Label2"},
                                                      {txtStep, "txtStep"},
                                                      {Frame2, "Frame2"},
                                                      {opWriteHp, "opWriteHp"},
                                                      {opWriteTxt, "opWriteTxt"},
                                                      {cmdWrite, "cmdWrite"},
                                                      {cmdVer, "cmdVer"},
                                                      {cmdDisk, "cmdDisk"},
                                                      {txtData, "txtData"},
                                                      {lblCodePage, "lblCodePage"},
                                                      {cboCodePage, "cboCodePage"},
                                                      {StatusBar1, "StatusBar1"},
                                                      {ProgressBar1, "ProgressBar1"},
                                                      {Timer1, "Timer1"}};
    for (const auto& [object, name] : names) {
        object->setObjectName(QLatin1String(name));
    }
}

// Default buttons, focus, the tab order and the shortcuts.
void frmMain::setUpKeyboard()
{
    for (QPushButton* button : {cmdRead, cmdWrite, cmdVer, cmdDisk}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    for (QWidget* quiet :
         {static_cast<QWidget*>(Frame1), static_cast<QWidget*>(Frame2), static_cast<QWidget*>(FrameLNOP),
          static_cast<QWidget*>(StatusBar1), static_cast<QWidget*>(ProgressBar1)}) {
        quiet->setFocusPolicy(Qt::NoFocus);
    }
    // Tab order by tab index; each option group is one stop.
    setTabOrder(cmdVer, cmdRead);
    setTabOrder(cmdRead, opReadTxt);
    setTabOrder(opReadTxt, opReadHp);
    setTabOrder(opReadHp, cmdWrite);
    setTabOrder(cmdWrite, opWriteHp);
    setTabOrder(opWriteHp, opWriteTxt);
    setTabOrder(opWriteTxt, chkLineNum);
    setTabOrder(chkLineNum, txtStart);
    setTabOrder(txtStart, txtStep);
    setTabOrder(txtStep, cboCodePage);
    setTabOrder(cboCodePage, cmdDisk);
    setTabOrder(cmdDisk, txtData);
    cboCodePage->setAccessibleName(QStringLiteral("Code page"));

    cmdRead->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_O));
    cmdRead->setToolTip(QStringLiteral("Read a program file into the document (Ctrl+O)"));
    cmdWrite->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
    cmdWrite->setToolTip(QStringLiteral("Write the document to a file (Ctrl+S)"));
    cmdDisk->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    cmdDisk->setToolTip(QStringLiteral("Disk images: make one, see its files, take them out, put them in (Ctrl+D)"));
}

void frmMain::connectHandlers()
{
    connect(cmdRead, &QPushButton::clicked, this, &frmMain::cmdRead_Click);
    connect(cmdWrite, &QPushButton::clicked, this, &frmMain::cmdWrite_Click);
    connect(cmdVer, &QPushButton::clicked, this, &frmMain::cmdVer_Click);
    connect(cmdDisk, &QPushButton::clicked, this, &frmMain::cmdDisk_Click);
    // Handlers run whenever a button becomes selected, by the user or the load step.
    connect(opReadHp, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            opReadHp_Click();
        }
    });
    connect(opReadTxt, &QRadioButton::toggled, this, [this](bool on) {
        if (on) {
            opReadTxt_Click();
        }
    });
    // Each option group is one tab stop: its selected button (both while
    // neither is), so that Space never changes the user's choice.
    for (const auto& [first, second] : {std::pair{opReadHp, opReadTxt}, std::pair{opWriteHp, opWriteTxt}}) {
        const auto oneStop = [first = first, second = second] {
            const bool none = !first->isChecked() && !second->isChecked();
            first->setFocusPolicy(first->isChecked() || none ? Qt::StrongFocus : Qt::ClickFocus);
            second->setFocusPolicy(second->isChecked() || none ? Qt::StrongFocus : Qt::ClickFocus);
        };
        connect(first, &QRadioButton::toggled, this, oneStop);
        connect(second, &QRadioButton::toggled, this, oneStop);
    }
    connect(chkLineNum, &QCheckBox::stateChanged, this, &frmMain::chkLineNum_Click);
    // The user's choice of code page is used from now on and remembered.
    connect(cboCodePage, &QComboBox::activated, this, [this](int index) {
        setCodePage(CodePage::named(cboCodePage->itemText(index).toStdString()));
        Module1::WriteSetting("Option", "CodePage", codePage_.name());
    });
    connect(Timer1, &QTimer::timeout, this, &frmMain::Timer1_Timer);
}

// ---- enabling rules --------------------------------------------------------

void frmMain::setNumberingGroupEnabled(bool enabled)
{
    Label1->setEnabled(enabled);
    Label2->setEnabled(enabled);
    txtStart->setEnabled(enabled);
    txtStep->setEnabled(enabled);
}

void frmMain::setCodePage(CodePage codePage)
{
    codePage_ = std::move(codePage);
    static_cast<NumberField*>(txtStart)->setCodePage(codePage_);
    static_cast<NumberField*>(txtStep)->setCodePage(codePage_);
}

void frmMain::opReadHp_Click()
{
    if (opReadHp->isChecked()) {
        chkLineNum->setEnabled(false);
        setNumberingGroupEnabled(false);
    }
}

void frmMain::opReadTxt_Click()
{
    if (opReadTxt->isChecked()) {
        chkLineNum->setEnabled(true);
        if (chkLineNum->checkState() == Qt::Checked) {
            setNumberingGroupEnabled(true);
        }
    }
}

void frmMain::chkLineNum_Click()
{
    setNumberingGroupEnabled(chkLineNum->checkState() == Qt::Checked);
}

// ---- commands --------------------------------------------------------------

void frmMain::cmdRead_Click()
{
    if (setAsideEdits()) {
        ReadProgramFile(*this, codePage_, "");
    }
}

void frmMain::cmdWrite_Click()
{
    WriteProgramFile(*this, codePage_, documentText());
}

void frmMain::cmdVer_Click()
{
    frmAbout about(this);
    about.exec();
}

void frmMain::cmdDisk_Click()
{
    DiskView view(this, codePage_, documentOrigin().image);
    if (onDiskView) {
        onDiskView(view);
    } else {
        view.exec();
    }
    if (view.opened() && setAsideEdits()) {
        ReadProgramFile(*this, codePage_, view.image(), *view.opened());
    }
}

void frmMain::Timer1_Timer()
{
    progressTimerTick(*this);
    if (onTimerTick) {
        onTimerTick();
    }
}

// ---- drag and drop ---------------------------------------------------------

Qt::DropAction frmMain::CheckFileDrag(const QMimeData* data, Qt::DropActions effect)
{
    if (data == nullptr || !data->hasUrls() || data->urls().isEmpty() || !data->urls().constFirst().isLocalFile()) {
        return Qt::IgnoreAction;
    }
    return (effect & Qt::CopyAction) ? Qt::CopyAction : Qt::IgnoreAction;
}

void frmMain::ReadDroppedFile(const QMimeData* data)
{
    if (CheckFileDrag(data, Qt::CopyAction) != Qt::CopyAction) {
        return;
    }
    ReadFile(data->urls().constFirst().toLocalFile());
}

void frmMain::ReadFile(const QString& name)
{
    if (!name.isEmpty() && setAsideEdits()) {
        ReadProgramFile(*this, codePage_, QFileInfo(name).absoluteFilePath().toStdString());
    }
}

void frmMain::dragEnterEvent(QDragEnterEvent* event)
{
    dragMoveEvent(event);
}

void frmMain::dragMoveEvent(QDragMoveEvent* event)
{
    if (CheckFileDrag(event->mimeData(), event->possibleActions()) == Qt::CopyAction) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void frmMain::dropEvent(QDropEvent* event)
{
    if (CheckFileDrag(event->mimeData(), event->possibleActions()) != Qt::CopyAction) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::CopyAction);
    event->accept();
    // Read after the drop has finished, so the source is not kept waiting.
    QMimeData* copy = new QMimeData;
    copy->setUrls(event->mimeData()->urls());
    QTimer::singleShot(0, this, [this, copy] {
        ReadDroppedFile(copy);
        delete copy;
    });
}

bool frmMain::eventFilter(QObject* watched, QEvent* event)
{
    // Files dropped on the document area are read like files dropped on the
    // window; text drags stay the editor's.
    if (watched == txtData->viewport()) {
        switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove: {
            auto* drag = static_cast<QDragMoveEvent*>(event);
            if (drag->mimeData()->hasUrls()) {
                dragMoveEvent(drag);
                return true;
            }
            break;
        }
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            if (drop->mimeData()->hasUrls()) {
                dropEvent(drop);
                return true;
            }
            break;
        }
        default:
            break;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// ---- size and layout -------------------------------------------------------

void frmMain::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (isMinimized()) {
        return;
    }
    // Window managers keep the minimum size; without one nothing else would.
    if (width() < minimumWidth() || height() < minimumHeight()) {
        resize(std::max(width(), minimumWidth()), std::max(height(), minimumHeight()));
        return;
    }
    LayoutControls();
    trackFrame();
}

void frmMain::moveEvent(QMoveEvent* event)
{
    QWidget::moveEvent(event);
    trackFrame();
}

void frmMain::changeEvent(QEvent* event)
{
    QWidget::changeEvent(event);
    if (controlsMade_ && (event->type() == QEvent::StyleChange || event->type() == QEvent::FontChange)) {
        fitToStyle();
    }
    // A window manager may tell the new state after the new geometry: a
    // window restored from maximized is placed once it is normal again.
    if (event->type() == QEvent::WindowStateChange) {
        QTimer::singleShot(0, this, [this] { trackFrame(); });
    }
}

void frmMain::trackFrame()
{
    if (!isVisible() || isMinimized() || isMaximized() || isFullScreen()) {
        return;
    }
    const QRect outer = frameGeometry();
    const QRect client = geometry();
    const QMargins frame(client.left() - outer.left(), client.top() - outer.top(), outer.right() - client.right(),
                         outer.bottom() - client.bottom());
    // The frame is known once the window manager has put one around the
    // window (a window without a manager has none): only then can the client
    // be placed so that the outer rectangle is the remembered one. A frame
    // that changes later (the manager may tell the normal state before the
    // normal frame) places it again: the outer rectangle is what is kept.
    if (!frameSettled_ || frame != settledFrame_) {
        if (!frameSettled_ && frame.isNull() && hasWindowManager()) {
            return;
        }
        frameSettled_ = true;
        settledFrame_ = frame;
        setGeometry(normalOuter_.marginsRemoved(frame));
        return;
    }
    normalOuter_ = outer;
}

void frmMain::LayoutControls()
{
    const double clientWidth = twips(width());
    const double clientHeight = twips(height());
    txtData->setGeometry(px(120), documentTop_, px(clientWidth - 225), px(clientHeight) - documentTop_ - px(385));
    StatusBar1->setGeometry(0, px(clientHeight - 375), width(), px(375));
    ProgressBar1->setGeometry(px(2580), px(clientHeight - 330), px(clientWidth - 2880), px(315));
}

// ---- remembered state ------------------------------------------------------

void frmMain::Form_Load()
{
    // Applied in the order read, so the enabling rules run as the user's
    // own choices would run them.
    const RememberedState remembered = RememberedState::read();
    restoredState_ = remembered.state;
    opReadHp->setChecked(remembered.readHp);
    opReadTxt->setChecked(remembered.readTxt);
    opWriteHp->setChecked(remembered.writeHp);
    opWriteTxt->setChecked(remembered.writeTxt);
    chkLineNum->setChecked(remembered.addLineNum);
    static_cast<NumberField*>(txtStart)->setStoredText(QString::fromStdString(remembered.start));
    static_cast<NumberField*>(txtStep)->setStoredText(QString::fromStdString(remembered.step));
    try {
        const std::string page = Module1::ReadSetting("Option", "CodePage", "");
        if (!page.empty()) {
            setCodePage(CodePage::named(page));
        }
    } catch (const Failure&) {
        // A name no code page has: the locale's stays.
    }
    cboCodePage->setCurrentText(QString::fromStdString(codePage_.name()));

    // The measures are the outer rectangle. One that no screen could hold
    // (not a number, beyond any screen's reach) is treated like one off every
    // screen.
    const double measures[] = {remembered.left, remembered.top, remembered.width, remembered.height};
    const bool usable = std::all_of(std::begin(measures), std::end(measures),
                                    [](double twips) { return std::isfinite(twips) && std::abs(twips) < 15.0e5; });
    QRect outer =
        usable ? QRect(px(measures[0]), px(measures[1]), std::max(px(measures[2]), 0), std::max(px(measures[3]), 0))
               : QRect(-200000, 0, 0, 0);
    const QSize minimumOuter = minimumSize().grownBy(kAssumedFrame);
    outer.setSize(outer.size().expandedTo(minimumOuter));
    bool onScreen = false;
    for (const QScreen* screen : QGuiApplication::screens()) {
        onScreen = onScreen || screen->geometry().intersects(outer);
    }
    if (remembered.width <= 0 && remembered.height <= 0 && QGuiApplication::primaryScreen() != nullptr) {
        outer = firstStartRectangle();
    } else if (!onScreen && QGuiApplication::primaryScreen() != nullptr) {
        // Entirely off every screen (a screen that has gone): the primary one.
        outer.moveTopLeft(QGuiApplication::primaryScreen()->availableGeometry().topLeft());
        if (!usable) {
            outer.setSize(minimumOuter);
        }
    }
    // Until the window system tells the real frame, the client is placed
    // inside the frame the original platform had.
    normalOuter_ = outer;
    setGeometry(outer.marginsRemoved(kAssumedFrame));
}

// The first start (nothing remembered): about 30 lines of 88 characters in
// the document area, centred on the primary screen, never larger than it.
QRect frmMain::firstStartRectangle() const
{
    const QFontMetrics text(txtData->font());
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    QSize client(std::max(minimumWidth(), px(225) + 88 * text.averageCharWidth() + 24),
                 std::max(minimumHeight(), documentTop_ + px(385) + 30 * text.lineSpacing() + 8));
    QRect outer(QPoint(), client.grownBy(kAssumedFrame).boundedTo(screen.size()));
    outer.moveCenter(screen.center());
    return outer;
}

void frmMain::showRestored()
{
    if (restoredState_ == 2) {
        showMaximized();
    } else if (restoredState_ == 1) {
        showMinimized();
    } else {
        show();
    }
    cmdVer->setFocus();
    // The focus is shown from the start, not only once a key moved it.
    setAttribute(Qt::WA_KeyboardFocusChange);
}

void frmMain::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    QTimer::singleShot(0, this, [this] { trackFrame(); });
}

void frmMain::closeEvent(QCloseEvent* event)
{
    // A command is working: closing waits until it ends.
    if (!isEnabled() || !setAsideEdits()) {
        event->ignore();
        return;
    }
    Form_Unload();
    event->accept();
}

void frmMain::Form_Unload()
{
    // A minimized window is stored as normal; the measures are always those
    // of the normal state.
    trackFrame();
    const int state = isMaximized() && !isMinimized() ? 2 : 0;
    RememberedState remembered;
    remembered.state = state;
    remembered.top = twips(normalOuter_.top());
    remembered.left = twips(normalOuter_.left());
    remembered.height = twips(normalOuter_.height());
    remembered.width = twips(normalOuter_.width());
    remembered.readHp = opReadHp->isChecked();
    remembered.readTxt = opReadTxt->isChecked();
    remembered.writeHp = opWriteHp->isChecked();
    remembered.writeTxt = opWriteTxt->isChecked();
    remembered.addLineNum = chkLineNum->checkState() == Qt::Checked;
    remembered.start = txtStart->text().toStdString();
    remembered.step = txtStep->text().toStdString();
    remembered.write();
}

} // namespace varnook::ui
