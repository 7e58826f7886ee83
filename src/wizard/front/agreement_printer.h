#pragma once

#include <QString>
#include <QStringList>
#include <vector>

class QPrinter;
class QWidget;
class TextDatabase;

// Where each line of the agreement goes: a letter page in portrait, 10-point type, every line half an inch
// from the left edge, an empty line first. Positions in inches from the page's top-left corner.
struct PrintedLine {
    int page = 0;
    double x = 0.5;
    double y = 0.0;  // the top of the line
    QString text;
};
std::vector<PrintedLine> LayoutAgreement(const QStringList& lines, double lineHeightInches);

inline constexpr double kPageWidthInches = 8.5, kPageHeightInches = 11.0;
inline constexpr const char* kAgreementFileName = "QX4_EUA.prn";

// Reads the agreement file line by line. False when it cannot be read.
bool ReadAgreement(const QString& path, QStringList* lines);

// Prints onto a printer that is already set up; returns false when the printer would not start.
bool PrintAgreementOn(QPrinter& printer, const QStringList& lines, const QString& fontFamily);

// The Print button: asks for a printer, then prints the agreement beside the program. A missing file or a
// cancelled dialog gives a message and prints nothing.
void PrintAgreement(QWidget* owner, const QString& appDir, const TextDatabase& texts);
