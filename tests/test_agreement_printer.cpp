// The printed agreement: where its lines go, and a real print into a PDF file.
#include <QPrinter>
#include <QTemporaryDir>
#include <QtTest>

#include "wizard/front/agreement_printer.h"

class AgreementPrinterTest : public QObject {
    Q_OBJECT

private slots:
    void threeLinesAfterAnEmptyOne() {
        const double h = 0.2;
        const auto placed = LayoutAgreement({"one", "two", "three"}, h);
        QCOMPARE(placed.size(), size_t(3));
        for (std::size_t i = 0; i < 3; ++i) {
            QCOMPARE(placed[i].page, 0);
            QCOMPARE(placed[i].x, 0.5);
            QCOMPARE(placed[i].y, 0.5 + h * double(i + 1));  // the first printed line is empty
        }
        QCOMPARE(placed[2].text, QStringLiteral("three"));
    }

    void longTextGoesOnTheNextPage() {
        QStringList lines;
        for (int i = 0; i < 100; ++i)
            lines << QString::number(i);
        const auto placed = LayoutAgreement(lines, 0.2);
        int firstOfPage2 = -1;
        for (std::size_t i = 0; i < placed.size(); ++i) {
            QVERIFY(placed[i].y + 0.2 <= kPageHeightInches - 0.5 + 1e-9);
            if (firstOfPage2 < 0 && placed[i].page == 1)
                firstOfPage2 = int(i);
        }
        QVERIFY(firstOfPage2 > 0);
        QCOMPARE(placed[std::size_t(firstOfPage2)].y, 0.5);
        QCOMPARE(placed.back().page, 2);  // 49 lines under the empty one, then 50 a page
    }

    void missingFileIsReported() {
        QStringList lines;
        QVERIFY(!ReadAgreement("/nonexistent/QX4_EUA.prn", &lines));
        QVERIFY(lines.isEmpty());
    }

    void printsIntoAPdf() {
        QTemporaryDir dir;
        QFile agreement(dir.filePath(kAgreementFileName));
        QVERIFY(agreement.open(QIODevice::WriteOnly));
        for (int i = 0; i < 80; ++i)
            agreement.write("Clause " + QByteArray::number(i) + "\r\n");
        agreement.close();
        QStringList lines;
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
