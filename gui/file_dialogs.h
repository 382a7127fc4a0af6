#pragma once

#include <QString>
#include <optional>
#include <string>

class QWidget;

namespace zrq406 {

// The file-open and file-save dialogs of the programs; tests script the answers.
class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The existing file the user picked, or nothing when cancelled. `filter` is in the "Text (*.x)|*.x|...||" form.
    virtual std::optional<std::string> openFile(QWidget* parent, const std::string& filter) = 0;
    // The file the user chose to write, or nothing when cancelled.
    virtual std::optional<std::string> saveFile(QWidget* parent, const std::string& filter,
                                                const std::string& suggestedName) = 0;
};

// The filter of the "Text (*.x)|*.x|...||" form as Qt writes it: "Text (*.x);;...". "*.*" becomes "*".
QString qtFileFilter(const std::string& filter);

// QFileDialog.
class QtFileDialogs : public FileDialogs {
public:
    std::optional<std::string> openFile(QWidget* parent, const std::string& filter) override;
    std::optional<std::string> saveFile(QWidget* parent, const std::string& filter,
                                        const std::string& suggestedName) override;
};

} // namespace zrq406
