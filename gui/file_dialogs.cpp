#include "gui/file_dialogs.h"

#include "gui/page_layout.h"

#include <QFileDialog>
#include <QStringList>

namespace zrq406 {

QString qtFileFilter(const std::string& filter) {
    const QStringList parts = qtText(filter).split(QLatin1Char('|'));
    QStringList entries;
    // Pairs of description and pattern; the empty parts of the closing "||" end the list.
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        if (parts[i].isEmpty())
            break;
        QString description = parts[i];
        description.replace(QStringLiteral("(*.*)"), QStringLiteral("(*)"));
        entries << description;
    }
    return entries.join(QStringLiteral(";;"));
}

std::optional<std::string> QtFileDialogs::openFile(QWidget* parent, const std::string& filter) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setOption(QFileDialog::ReadOnly, false);
    dialog.setNameFilter(qtFileFilter(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return stdText(dialog.selectedFiles().front());
}

std::optional<std::string> QtFileDialogs::saveFile(QWidget* parent, const std::string& filter,
                                                   const std::string& suggestedName) {
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setNameFilter(qtFileFilter(filter));
    dialog.setDefaultSuffix(QStringLiteral("txt"));
    dialog.selectFile(qtText(suggestedName));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return stdText(dialog.selectedFiles().front());
}

} // namespace zrq406
