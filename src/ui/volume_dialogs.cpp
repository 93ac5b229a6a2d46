#include "volume_dialogs.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QValidator>
#include <QVBoxLayout>

namespace varnook::ui {
namespace {

QString labelText(const lif::Volume& volume)
{
    return volume.label.empty() ? QStringLiteral("(no label)") : QString::fromLatin1(volume.label);
}

// Lets only a name of the writing rule be typed: every start of such a
// name is one itself.
class NameValidator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override
    {
        return input.isEmpty() ? Intermediate : lif::isValidName(input.toLatin1().toStdString()) ? Acceptable : Invalid;
    }
};

// A dialog with a caption line, room for the content and OK / Cancel.
struct Frame {
    explicit Frame(QWidget* owner, const QString& caption)
        : dialog(owner),
          layout(new QVBoxLayout(&dialog)),
          buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel))
    {
        dialog.setWindowTitle(QStringLiteral("Varnook"));
        auto* label = new QLabel(caption);
        label->setWordWrap(true);
        layout->addWidget(label);
        QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
        QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    }
    QPushButton* ok() const { return buttons->button(QDialogButtonBox::Ok); }
    bool run()
    {
        layout->addWidget(buttons);
        return dialog.exec() == QDialog::Accepted;
    }

    QDialog dialog;
    QVBoxLayout* layout;
    QDialogButtonBox* buttons;
};

} // namespace

std::optional<std::string> askVolumeFileName(QWidget* owner, const lif::Volume& volume, const std::string& offered)
{
    Frame frame(owner, QStringLiteral("The file is a LIF disk image (volume %1). Name of the program in it "
                                      "(%2):")
                           .arg(labelText(volume), QString::fromLatin1(lif::kNameRule)));
    frame.dialog.setMinimumWidth(400);
    auto* name = new QLineEdit(QString::fromStdString(offered));
    name->setObjectName(QStringLiteral("volumeFileName"));
    name->setValidator(new NameValidator(name));
    auto* verdict = new QLabel;
    verdict->setObjectName(QStringLiteral("volumeVerdict"));
    verdict->setWordWrap(true);
    frame.layout->addWidget(name);
    frame.layout->addWidget(verdict);
    const auto update = [&] {
        const std::string text = name->text().toStdString();
        const lif::Entry* old = volume.find(text);
        bool allowed = lif::isValidName(text);
        QString says;
        if (!allowed) {
            says = QString();
        } else if (old == nullptr) {
            says = QStringLiteral("A new file %1 will be added to the volume.").arg(name->text());
            // LIF names are told apart by case, which a user may not expect.
            for (const auto& file : volume.files) {
                if (QString::fromLatin1(file.name).compare(name->text(), Qt::CaseInsensitive) == 0) {
                    says += QStringLiteral(" It differs from %1 only in case.").arg(QString::fromLatin1(file.name));
                }
            }
        } else if (old->type == lif::kTypeAscii) {
            says = QStringLiteral("The file %1 in the volume will be replaced.").arg(name->text());
        } else {
            says = QStringLiteral("%1 is a file of another type (%2); it cannot be replaced.")
                       .arg(name->text(), QString::fromStdString(lif::typeName(old->type)));
            allowed = false;
        }
        verdict->setText(says);
        frame.ok()->setEnabled(allowed);
    };
    QObject::connect(name, &QLineEdit::textChanged, &frame.dialog, update);
    QObject::connect(name, &QLineEdit::inputRejected, &frame.dialog, [&] {
        verdict->setText(QStringLiteral("A name is %1: that character cannot be typed here.")
                             .arg(QString::fromLatin1(lif::kNameRule)));
    });
    update();
    name->selectAll();
    if (!frame.run()) {
        return std::nullopt;
    }
    return name->text().toStdString();
}

} // namespace varnook::ui
