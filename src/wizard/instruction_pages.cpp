#include "wizard/instruction_pages.h"

namespace {

const QString kBreak = QStringLiteral("\r\n");
constexpr int kBreaksAbovePicture = 10;

// Builds a page the way it is printed: a running step number in front of each numbered line.
class PageText {
public:
    explicit PageText(int firstStep) : step_(firstStep) {}
    void Numbered(const char* literal) {
        text_ += QString::number(step_) + QLatin1String(literal) + kBreak + kBreak;
        ++step_;
    }
    void NumberOnly(const char* literal) {
        text_ += QString::number(step_) + QLatin1String(literal) + kBreak;
    }
    void Line(const char* literal, int breaks) { text_ += QLatin1String(literal) + kBreak.repeated(breaks); }
    void Breaks(int n) { text_ += kBreak.repeated(n); }
    const QString& Text() const { return text_; }

private:
    int step_;
    QString text_;
};

}  // namespace

QString InstructionPageText(int n) {
    if (n == 1) {
        PageText page(1);
        page.Numbered(". Plug the USB interface cable into an USB port on the PC.");
        page.Numbered(". Dive Computer (DC) needs to be in the Watch Main Time Mode.");
        page.Numbered(". Clip the interface cable on the DC data port.");
        page.NumberOnly(
            ". A PC will appear with a 120 second countdown (you have 2 minutes to initiate the connection "
            "PC-DC).");
        page.Line(
            "   a) If the  PC screen does not appear, unclip the interface cable from the DC for 5 second "
            "then "
            "repeat",
            1);
        page.Line("   steps 2, 3, 4.", 2);
        page.Line(">>> Click on Next button to continue... >>>", 0);
        return page.Text();
    }
    if (n == 2) {
        PageText page(5);
        page.Breaks(kBreaksAbovePicture);  // the text starts below the picture
        page.Numbered(". DC is now in Deep Sleep mode. Do not unclip the interface cable from the DC.");
        page.NumberOnly(
            ". Activate the DC by depressing and holding both the Advance (A) and Select (S) buttons until "
            "the PC "
            "screen appears with a 120 second countdown (about 8 seconds).");
        page.Line(
            "   a) If the PC screen does not appear, unclip the interface cable from the DC for 5 seconds, "
            "then "
            "clip it ",
            1);
        page.Line("   back on.", 2);
        page.Line(">>> Click on Next button to continue...>>>", 0);
        return page.Text();
    }
    return {};
}

QString InstructionPageText(int n, const TextDatabase& texts) {
    if (n == 1)
        return texts.Localised(Txt::ConnectionPage, InstructionPageText(1));
    if (n == 2) {
        const QString room = kBreak.repeated(kBreaksAbovePicture);
        return room + texts.Localised(Txt::DeepSleepPage, InstructionPageText(2).mid(room.size()));
    }
    return {};
}

PictureOnPage InstructionPagePicture(int n) {
    if (n == 1)
        return PictureOnPage::Hidden;
    if (n == 2)
        return PictureOnPage::Shown;
    return PictureOnPage::Unchanged;
}
