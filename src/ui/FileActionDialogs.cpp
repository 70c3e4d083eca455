#include "ui/FileActionDialogs.h"

#include "core/model/Enums.h"
#include "core/state/AppState.h"
#include "core/view/ViewerContent.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>

namespace orva {

void openRenamePrompt(QWidget *parent, AppState &state)
{
    if (!state.currentURL())
        return;
    const QUrl file = *state.currentURL();
    auto *dialog = new QDialog(parent);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(labelText("Rename"));
    dialog->setObjectName(QStringLiteral("renamePrompt"));
    auto *layout = new QFormLayout(dialog);
    auto *field = new QLineEdit(state.renameText(), dialog);
    field->setMinimumWidth(320);
    layout->addRow(labelText("Name"), field);
    auto *buttons = new QDialogButtonBox(dialog);
    buttons->addButton(labelText("Rename"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(labelText("Cancel"), QDialogButtonBox::RejectRole);
    layout->addRow(buttons);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    QObject::connect(field, &QLineEdit::textEdited, &state, &AppState::setRenameText);
    QPointer<AppState> target(&state);
    QObject::connect(dialog, &QDialog::finished, &state, [target, file](int result) {
        target->setShowRenamePrompt(false);
        if (result == QDialog::Accepted)
            target->renameFile(file, target->renameText());
    });
    field->setSelection(0, viewer::renameSelectionLength(field->text()));
    dialog->open();
}

void openDeleteConfirmation(QWidget *parent, AppState &state)
{
    if (!state.currentURL())
        return;
    const QUrl file = *state.currentURL();
    const bool permanent = state.deleteIsPermanent();
    auto *box = new QMessageBox(QMessageBox::Warning, labelText("Delete Image"),
                                viewer::deleteConfirmationMessage(file.fileName(), permanent),
                                QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName(QStringLiteral("deleteConfirmation"));
    box->setTextFormat(Qt::PlainText); // the message quotes the file name
    QPushButton *remove = box->addButton(labelText("Delete"), QMessageBox::DestructiveRole);
    box->setDefaultButton(box->addButton(labelText("Cancel"), QMessageBox::RejectRole));
    QPointer<AppState> target(&state);
    QObject::connect(box, &QMessageBox::finished, &state, [target, box, remove, file, permanent] {
        target->setShowDeleteConfirmation(false);
        if (box->clickedButton() == remove)
            target->deleteFile(file, permanent);
    });
    box->open();
}

void chooseTransferFolder(QWidget *parent, AppState &state, bool move)
{
    if (!state.currentURL())
        return;
    const QUrl file = *state.currentURL();
    auto *dialog = new QFileDialog(parent, move ? labelText("Move To") : labelText("Copy To"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::Directory);
    dialog->setOption(QFileDialog::ShowDirsOnly);
    dialog->setLabelText(QFileDialog::Accept, move ? labelText("Move") : labelText("Copy"));
    if (const std::optional<QString> last = state.settings().lastTransferFolder())
        dialog->setDirectory(*last);
    QObject::connect(dialog, &QFileDialog::fileSelected, &state,
                     [&state, file, move](const QString &folder) {
                         const QUrl url = QUrl::fromLocalFile(folder);
                         if (move)
                             state.moveFile(file, url);
                         else
                             state.copyFile(file, url);
                     });
    dialog->open();
}

void chooseOtherApplication(QWidget *parent, AppState &state)
{
    if (!state.currentURL())
        return;
    auto *dialog = new QFileDialog(parent, labelText("Open With"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFile);
    dialog->setNameFilter(labelText("Applications") + QStringLiteral(" (*.desktop)"));
    dialog->setLabelText(QFileDialog::Accept, labelText("Open"));
    dialog->setDirectory(QStringLiteral("/usr/share/applications"));
    QObject::connect(dialog, &QFileDialog::fileSelected, &state,
                     [&state](const QString &path) { state.openWith(QUrl::fromLocalFile(path)); });
    dialog->open();
}

} // namespace orva
