// What the commands ask of the window: its document, its options, the
// status bar and progress, the dialogs and questions.

#include "frm_main.h"
#include "number_field.h"

#include "disk_view.h"
#include "volume_dialogs.h"

#include "core/text/line_breaks.h"
#include "operations/file_commands.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QRadioButton>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QThread>
#include <QEventLoop>

#include <algorithm>

namespace varnook::ui {
namespace {

// About 20 ms of work for the document area each.
constexpr std::size_t kDocumentPiece = 256 * 1024;

QString qt(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

std::string frmMain::documentText()
{
    if (documentCopy_) {
        return *documentCopy_;
    }
    // Block by block, events running between stretches, so that 30 MB do not
    // freeze the window; busy meanwhile, so that nothing edits it. The
    // block's own text: toPlainText would turn U+00A0 into a blank.
    const bool wasIdle = isEnabled();
    setBusy();
    std::string text;
    text.reserve(static_cast<std::size_t>(txtData->document()->characterCount()) * 11 / 10);
    // The progress bar follows the lines taken.
    setProgressMaximum(txtData->document()->blockCount());
    int count = 0;
    for (QTextBlock block = txtData->document()->begin(); block.isValid(); block = block.next()) {
        if (block != txtData->document()->begin()) {
            text += "\r\n";
        }
        QString line = block.text();
        line.replace(QChar::LineSeparator, QStringLiteral("\r\n"));
        text += line.toStdString();
        if (++count % 4096 == 0) {
            setProgressValue(count);
            pumpEvents();
        }
    }
    setProgressValue(0);
    if (wasIdle) {
        setIdle();
    }
    documentCopy_ = text;
    return text;
}

void frmMain::setDocumentText(std::string_view text)
{
    std::string normalized = normalizeLineBreaks(std::string(text));
    // The text goes in in pieces, events processed between them, so that a
    // program of many megabytes does not freeze the window.
    QTextDocument* document = txtData->document();
    document->setUndoRedoEnabled(false);
    txtData->clear();
    QTextCursor cursor(document);
    // A text of many pieces: the progress bar follows them.
    const bool pieces = normalized.size() > kDocumentPiece;
    if (pieces) {
        setProgressMaximum(static_cast<double>(normalized.size()));
    }
    for (std::size_t at = 0; at < normalized.size();) {
        std::size_t end = std::min(normalized.size(), at + kDocumentPiece);
        const std::size_t lineEnd = normalized.find('\n', end);
        end = lineEnd == std::string::npos ? normalized.size() : lineEnd + 1;
        QString piece = qt(std::string_view(normalized).substr(at, end - at));
        piece.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
        cursor.insertText(piece);
        at = end;
        if (pieces) {
            setProgressValue(static_cast<double>(at));
        }
        pumpEvents();
    }
    document->setUndoRedoEnabled(true);
    document->setModified(false);
    txtData->moveCursor(QTextCursor::Start);
    documentCopy_ = std::move(normalized);
}

bool frmMain::readAsHpSelected()
{
    return opReadHp->isChecked();
}

bool frmMain::lineNumbersWanted()
{
    // The box is greyed out while HP BASIC ASCII is read: then it asks for nothing.
    return opReadTxt->isChecked() && chkLineNum->checkState() == Qt::Checked;
}

std::string frmMain::startText()
{
    return txtStart->text().toStdString();
}

std::string frmMain::stepText()
{
    return txtStep->text().toStdString();
}

void frmMain::setStartText(const std::string& text)
{
    static_cast<NumberField*>(txtStart)->setStoredText(QString::fromStdString(text));
}

void frmMain::setStepText(const std::string& text)
{
    static_cast<NumberField*>(txtStep)->setStoredText(QString::fromStdString(text));
}

bool frmMain::writeAsTxtSelected()
{
    return opWriteTxt->isChecked();
}

void frmMain::setBusy()
{
    if (isEnabled()) {
        // Disabling takes the focus away; it comes back at setIdle.
        focusBeforeBusy_ = focusWidget();
        setEnabled(false);
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
}

void frmMain::setIdle()
{
    if (!isEnabled()) {
        QApplication::restoreOverrideCursor();
        setEnabled(true);
        if (focusBeforeBusy_ != nullptr && focusBeforeBusy_->isEnabled() && isAncestorOf(focusBeforeBusy_)) {
            focusBeforeBusy_->setFocus(Qt::OtherFocusReason);
        }
        focusBeforeBusy_ = nullptr;
    }
}

void frmMain::setStatusText(std::string_view text)
{
    StatusBar1Panel1->setText(qt(text));
}

void frmMain::setProgressMaximum(double maximum)
{
    ProgressBar1->setProperty("varnookMaximum", maximum);
    // A bar with no range would show a busy animation: keep at least 1.
    ProgressBar1->setMaximum(std::max(1, static_cast<int>(std::clamp(maximum, 0.0, 2147483647.0))));
}

std::string frmMain::statusText()
{
    return StatusBar1Panel1->text().toStdString();
}

double frmMain::progressMaximum()
{
    return ProgressBar1->property("varnookMaximum").toDouble();
}

void frmMain::setProgressValue(double value)
{
    ProgressBar1->setValue(static_cast<int>(std::clamp(value, 0.0, static_cast<double>(ProgressBar1->maximum()))));
}

void frmMain::startProgressTimer()
{
    Timer1->start();
}

void frmMain::stopProgressTimer()
{
    Timer1->stop();
}

void frmMain::yield()
{
    if (QThread::currentThread() != thread()) {
        return; // aside: the window's thread runs its events meanwhile
    }
    // Loops yield often; the events are pumped about every 15 ms, which keeps
    // the window painting and the 250 ms tick on time at little cost.
    if (++yieldCount_ % 4 != 0 && sincePump_.isValid()) {
        return;
    }
    pumpEvents();
}

void frmMain::aside(const std::function<void()>& work)
{
    std::exception_ptr failure;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        try {
            work();
        } catch (...) {
            failure = std::current_exception();
        }
    }));
    QEventLoop loop;
    connect(worker.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
    worker->start();
    // Repaints and timer ticks run; the user's input waits, as while busy.
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    worker->wait();
    sincePump_.restart();
    if (failure) {
        std::rethrow_exception(failure);
    }
}

void frmMain::pumpEvents()
{
    if (!sincePump_.isValid() || sincePump_.elapsed() >= 15) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        sincePump_.restart();
    }
}

void frmMain::setDialogFileName(const std::string& name)
{
    CommonDialog1.FileName = QString::fromStdString(name);
}

std::string frmMain::dialogFileName()
{
    return CommonDialog1.FileName.toStdString();
}

void frmMain::setDialogFilter(const std::string& filter)
{
    CommonDialog1.Filter = QString::fromStdString(filter);
}

void frmMain::setDialogFilterIndex(int index)
{
    CommonDialog1.FilterIndex = index;
}

bool frmMain::showOpenDialog()
{
    return CommonDialog1.ShowOpen();
}

bool frmMain::showSaveDialog()
{
    return CommonDialog1.ShowSave();
}

std::optional<std::string> frmMain::chooseVolumeFile(std::string& image, const lif::Volume&)
{
    if (volumeAnswer) {
        return volumeAnswer("");
    }
    DiskView view(this, codePage_, image);
    if (onDiskView) {
        onDiskView(view);
    } else {
        view.exec();
    }
    image = view.image();
    return view.opened();
}

std::optional<std::string> frmMain::askVolumeFileName(const lif::Volume& volume, const std::string& offered)
{
    return volumeAnswer ? volumeAnswer(offered) : ui::askVolumeFileName(this, volume, offered);
}

void frmMain::showWarningMessage(std::string_view text)
{
    if (onWarning) {
        onWarning(qt(text));
        return;
    }
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Varnook"), qt(text), QMessageBox::Ok, this);
    box.exec();
}

QMessageBox::StandardButton frmMain::ask(const QString& text, QMessageBox::StandardButtons buttons,
                                         QMessageBox::StandardButton preferred)
{
    if (onQuestion) {
        return onQuestion(text, buttons);
    }
    QMessageBox box(QMessageBox::Question, QStringLiteral("Varnook"), text, buttons, this);
    // Return takes the step that loses nothing: writing the edits, reading
    // the file as what it is, keeping a file that is not text.
    box.setDefaultButton(buttons.testFlag(QMessageBox::Save) ? QMessageBox::Save : preferred);
    if (QAbstractButton* save = box.button(QMessageBox::Save)) {
        save->setText(QStringLiteral("Write"));
    }
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

bool frmMain::askYesNo(std::string_view text, bool noByDefault)
{
    return ask(qt(text), QMessageBox::Yes | QMessageBox::No, noByDefault ? QMessageBox::No : QMessageBox::Yes) ==
           QMessageBox::Yes;
}

bool frmMain::setAsideEdits()
{
    if (!txtData->document()->isModified()) {
        return true;
    }
    switch (ask(QStringLiteral("The document has changes that were not written. Write them first?"),
                QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel)) {
    case QMessageBox::Save:
        return WriteProgramFile(*this, codePage_, documentText());
    case QMessageBox::Discard:
        return true;
    default:
        return false;
    }
}

void frmMain::setDocumentFile(std::string_view name)
{
    // Qt puts the modified mark where [*] stands.
    setWindowTitle(qt(name) + QStringLiteral("[*] - Varnook"));
    txtData->document()->setModified(false);
}

} // namespace varnook::ui
