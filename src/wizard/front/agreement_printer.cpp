#include "wizard/front/agreement_printer.h"

#include <QDir>
#include <QFile>
#include <QFontMetricsF>
#include <QMessageBox>
#include <QPageLayout>
#include <QPainter>
#include <QPrintDialog>
#include <QPrinter>
#include <QTextStream>

#include "support/text_database.h"

std::vector<PrintedLine> LayoutAgreement(const QStringList& lines, double lineHeightInches) {
    std::vector<PrintedLine> placed;
    const double top = 0.5, bottom = kPageHeightInches - 0.5;
    int page = 0;
    double y = top + lineHeightInches;  // the empty first line
    for (const QString& line : lines) {
        if (y + lineHeightInches > bottom) {
            ++page;
            y = top;
        }
        placed.push_back({page, 0.5, y, line});
        y += lineHeightInches;
    }
    return placed;
}

bool ReadAgreement(const QString& path, QStringList* lines) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    while (!in.atEnd())
        lines->append(in.readLine());
    return true;
}

bool PrintAgreementOn(QPrinter& printer, const QStringList& lines, const QString& fontFamily) {
    printer.setPageLayout(QPageLayout(QPageSize(QPageSize::Letter), QPageLayout::Portrait, QMarginsF()));
    printer.setFullPage(true);
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    QFont font(fontFamily, 10);
    font.setBold(false);
    painter.setFont(font);
    const double dpi = printer.resolution();
    const QFontMetricsF metrics(font, &printer);
    int page = 0;
    for (const PrintedLine& line : LayoutAgreement(lines, metrics.lineSpacing() / dpi)) {
        if (line.page != page) {
            printer.newPage();
            page = line.page;
        }
        painter.drawText(QPointF(line.x * dpi, line.y * dpi + metrics.ascent()), line.text);
    }
    return painter.end();
}

void PrintAgreement(QWidget* owner, const QString& appDir, const TextDatabase& texts) {
    const QString path = QDir(appDir).filePath(QString::fromLatin1(kAgreementFileName));
    QStringList lines;
    const QString title = texts.GetText(Txt::FirmwareUpdate);
    if (!ReadAgreement(path, &lines)) {
        QMessageBox::warning(owner, title, texts.GetText(Txt::AgreementNotRead).arg(path));
        return;
    }
    QPrinter printer(QPrinter::HighResolution);
    QPrintDialog dialog(&printer, owner);
    if (dialog.exec() != QDialog::Accepted) {
        QMessageBox::information(owner, title, texts.GetText(Txt::PrintingCancelled));
        return;
    }
    PrintAgreementOn(printer, lines, owner ? owner->font().family() : QString());
}
