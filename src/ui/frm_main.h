#pragma once

#include "common_dialog.h"
#include "window_manager.h"

#include "core/text/code_page.h"
#include "operations/window_operations.h"

#include <QElapsedTimer>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <optional>
#include <memory>

class QCheckBox;
class QComboBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMimeData;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace varnook::ui {

// The main window: options, numbering fields, the three command buttons, the
// document area and the status and progress display. It carries the window
// operations the commands use.
class frmMain : public QWidget, public WindowOperations {
    Q_OBJECT

public:
    explicit frmMain(QWidget* parent = nullptr);
    ~frmMain() override;

    // Shows the window in the state the load step restored.
    void showRestored();

    // WindowOperations
    std::string documentText() override;
    void setDocumentText(std::string_view text) override;
    bool readAsHpSelected() override;
    bool lineNumbersWanted() override;
    std::string startText() override;
    std::string stepText() override;
    void setStartText(const std::string& text) override;
    void setStepText(const std::string& text) override;
    bool writeAsTxtSelected() override;
    void setBusy() override;
    void setIdle() override;
    void setStatusText(std::string_view text) override;
    std::string statusText() override;
    void setProgressMaximum(double maximum) override;
    double progressMaximum() override;
    void setProgressValue(double value) override;
    void startProgressTimer() override;
    void stopProgressTimer() override;
    void yield() override;
    void aside(const std::function<void()>& work) override;
    void setDialogFileName(const std::string& name) override;
    std::string dialogFileName() override;
    void setDialogFilter(const std::string& filter) override;
    void setDialogFilterIndex(int index) override;
    bool showOpenDialog() override;
    bool showSaveDialog() override;
    void showWarningMessage(std::string_view text) override;
    bool askYesNo(std::string_view text, bool noByDefault = false) override;
    void setDocumentFile(std::string_view name) override;
    std::optional<std::string> chooseVolumeFile(std::string& image, const lif::Volume& volume) override;
    std::optional<std::string> askVolumeFileName(const lif::Volume& volume, const std::string& offered) override;

    // The controls, named as the commands and the layout know them.
    QGroupBox* Frame1;
    QRadioButton* opReadHp;
    QRadioButton* opReadTxt;
    QPushButton* cmdRead;
    QCheckBox* chkLineNum;
    QGroupBox* FrameLNOP;
    QLabel* Label1;
    QLineEdit* txtStart;
    QLabel* Label2;
    QLineEdit* txtStep;
    QGroupBox* Frame2;
    QRadioButton* opWriteHp;
    QRadioButton* opWriteTxt;
    QPushButton* cmdWrite;
    QPushButton* cmdVer;
    QPushButton* cmdDisk;
    QLabel* lblCodePage;
    QComboBox* cboCodePage;
    QPlainTextEdit* txtData;
    QFrame* StatusBar1;
    QLabel* StatusBar1Panel1;
    QProgressBar* ProgressBar1;
    QTimer* Timer1;
    CommonDialog CommonDialog1;

    // Seen by the benchmark: called at every progress timer tick.
    std::function<void()> onTimerTick;
    // Answers the warning message instead of the user (tests).
    std::function<void(const QString&)> onWarning;
    // Answers the questions instead of the user (tests): gets the text and
    // the buttons offered, returns the one pressed.
    std::function<QMessageBox::StandardButton(const QString&, QMessageBox::StandardButtons)> onQuestion;
    // Answers the disk image dialogs instead of the user (tests): gets the
    // name offered (empty when choosing a file to read).
    std::function<std::optional<std::string>(const std::string& offered)> volumeAnswer;

    // Works the disk view instead of the user (tests): it is shown, not run.
    std::function<void(class DiskView&)> onDiskView;

    // The drop rules, for drags over the window and its document area.
    static Qt::DropAction CheckFileDrag(const QMimeData* data, Qt::DropActions effect);
    void ReadDroppedFile(const QMimeData* data);
    // Reads a file named outside the window (the command line, the desktop)
    // as a dropped file is read.
    void ReadFile(const QString& name);

    void LayoutControls();
    // Places the controls where the layout has them, grown where the style
    // needs more room to show them whole, and the window's minimum with them.
    void fitToStyle();

    // Unwritten edits are written or given up first, as the user answers.
    // False when the user keeps them (Cancel, or the write did not happen).
    bool setAsideEdits();

public slots:
    void cmdRead_Click();
    void cmdWrite_Click();
    void cmdVer_Click();
    // The disk view of the image the document came from, or of none.
    void cmdDisk_Click();
    void opReadHp_Click();
    void opReadTxt_Click();
    void chkLineNum_Click();
    // The code page the commands and the number fields use.
    void setCodePage(CodePage codePage);
    QRect firstStartRectangle() const;
    void Timer1_Timer();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void setUpWindow();
    void createOptionGroups();
    void createDocumentArea();
    void createStatusBar();
    void nameControls();
    void setUpKeyboard();
    void connectHandlers();
    QGroupBox* optionGroup(const QString& title, const QRect& place, const QString& command, QRadioButton*& hp,
                           QRadioButton*& txt, QPushButton*& button);
    void Form_Load();
    void Form_Unload();
    // Enables or disables Label1, Label2, txtStart and txtStep together.
    void setNumberingGroupEnabled(bool enabled);
    // Keeps normalOuter_ as the window's outer rectangle in the normal state.
    void trackFrame();
    // Lets window events run when 15 ms have passed since they last ran.
    void pumpEvents();
    QMessageBox::StandardButton ask(const QString& text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton preferred = QMessageBox::Yes);

    CodePage codePage_;
    // The outer rectangle (pixels) of the normal state: as the load step
    // restored it until the window system has framed the window and it has
    // been put there, then as the user moves and sizes it.
    QRect normalOuter_;
    bool frameSettled_ = false;
    QMargins settledFrame_;
    int restoredState_ = 0;
    std::unique_ptr<FrameWatcher> frameWatcher_;
    // The control that had the focus when a command made the window busy.
    QPointer<QWidget> focusBeforeBusy_;
    QElapsedTimer sincePump_;
    // The text last set, while the user has not edited it: reading 10 MB
    // back out of the document area takes longer than keeping a copy.
    std::optional<std::string> documentCopy_;
    unsigned yieldCount_ = 0;
    int documentTop_ = 104; // pixels: 1560 twips
    bool controlsMade_ = false;
};

} // namespace varnook::ui
