// The printed agreement: where its lines go, and a real print into a PDF file.
#include <QPrinter>
#include <QTemporaryDir>
#include <QtTest>

#include "wizard/front/agreement_printer.h"

class AgreementPrinterTest : public QObject {
    Q_OBJECT

private slots:
    // An empty line first, then a line every h inches from half an inch down; 49 lines on the first page,
    // 50 on the next ones.
    void layout() {
        QStringList lines;
        for (int i = 0; i < 100; ++i)
            lines << QString::number(i);
        const double h = 0.2;
        const auto placed = LayoutAgreement(lines, h);
        QCOMPARE(placed.size(), size_t(100));
        for (std::size_t i = 0; i < placed.size(); ++i) {
            const std::size_t row = (i + 1) % 50, page = (i + 1) / 50;
            QCOMPARE(placed[i].text, lines[qsizetype(i)]);
            QCOMPARE(placed[i].page, int(page));
            QCOMPARE(placed[i].x, 0.5);
            QVERIFY(std::abs(placed[i].y - (0.5 + h * double(row))) < 1e-9);
            QVERIFY(placed[i].y + h <= kPageHeightInches - 0.5 + 1e-9);
        }
    }

    void printsIntoAPdf() {
        QTemporaryDir dir;
        QStringList lines;
        QVERIFY(!ReadAgreement(dir.filePath("missing.prn"), &lines) && lines.isEmpty());
        QFile agreement(dir.filePath(kAgreementFileName));
        QVERIFY(agreement.open(QIODevice::WriteOnly));
        for (int i = 0; i < 80; ++i)
            agreement.write("Clause " + QByteArray::number(i) + "\r\n");
        agreement.close();
        QVERIFY(ReadAgreement(agreement.fileName(), &lines));
        QCOMPARE(lines.size(), 80);
        QCOMPARE(lines[79], QStringLiteral("Clause 79"));

        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.filePath("out.pdf"));
        QVERIFY(PrintAgreementOn(printer, lines, "DejaVu Sans"));
        QFile pdf(dir.filePath("out.pdf"));
        QVERIFY(pdf.open(QIODevice::ReadOnly));
        const QByteArray bytes = pdf.readAll();
        QVERIFY(bytes.startsWith("%PDF"));
        QVERIFY(bytes.contains("/Count 2"));  // 80 lines of 10 points need a second letter page
        QVERIFY(bytes.contains("/MediaBox [0 0 612.000000 792.000000]"));  // letter, portrait, in points
    }
};

QTEST_MAIN(AgreementPrinterTest)
#include "test_agreement_printer.moc"
