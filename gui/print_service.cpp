#include "gui/print_service.h"

#include "gui/page_layout.h"

#include <QFontDatabase>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextDocument>

namespace zrq406 {

PrintOutcome QtPrintService::print(QWidget* parent, const std::string& title, const std::string& text) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setDocName(qtText(title));
    QPrintDialog dialog(&printer, parent);
    dialog.setWindowTitle(qtText(title));
    dialog.setOption(QAbstractPrintDialog::PrintToFile, true);
    if (dialog.exec() != QDialog::Accepted)
        return PrintOutcome::Cancelled;
    QTextDocument document;
    // The report's tables are aligned in characters.
    document.setDefaultFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    document.setPlainText(qtText(text));
    document.print(&printer);
    return printer.printerState() == QPrinter::Error ? PrintOutcome::Failed : PrintOutcome::Printed;
}

} // namespace zrq406
