#pragma once

#include <string>

class QWidget;

namespace zrq406 {

enum class PrintOutcome { Printed, Cancelled, Failed };

// Printing of the programs' plain-text reports; tests replace it so that no print dialog opens.
class PrintService {
public:
    virtual ~PrintService() = default;
    // Asks where to print (a printer, or a PDF file) and prints `text` as a document named `title`.
    virtual PrintOutcome print(QWidget* parent, const std::string& title, const std::string& text) = 0;
};

// QPrintDialog with printing to a PDF file offered, and the text set in the system's fixed-width font.
class QtPrintService : public PrintService {
public:
    PrintOutcome print(QWidget* parent, const std::string& title, const std::string& text) override;
};

} // namespace zrq406
