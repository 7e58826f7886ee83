#pragma once

#include <QString>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <vector>

#include "run/wizard_view.h"

// A wizard view that remembers what it was told and answers boxes from a script.
class RecordingView final : public WizardView {
public:
    struct Box {
        QString text, title;
        BoxStyle style;
    };
    struct Row {
        int icon;
        QString time, event, status;
    };
    struct Button {
        QString caption;
        bool enabled = true;
        bool visible = true;
    };

    void SetWindowCaption(const QString& c) override { windowCaption = c; }
    void SetFrameCaption(const QString& c) override { frameCaption = c; }
    void SetFrameVisible(bool v) override { frameVisible = v; }
    void SetInstructionText(const QString& t) override { instructions = t; }
    void SetPictureVisible(bool v) override { pictureVisible = v; }
    void SetTaskListVisible(bool v) override { taskListVisible = v; }
    void SetColumnHeaders(const QString& t, const QString& e, const QString& s) override {
        headers = {t, e, s};
    }
    void AppendTaskRow(int icon, const QString& time, const QString& event, const QString& status) override {
        rows.push_back({icon, time, event, status});
    }
    void SetNewestTaskStatus(const QString& s) override {
        if (!rows.empty())
            rows.back().status = s;
    }
    void SetNewestTaskProgress(const TransferProgress& p) override {
        SetNewestTaskStatus(p.PercentText());
        shown = p.Text(timeLeft);
    }
    void ShowNewestTaskLive(const QString& live) override { shown = live; }
    void SetTimeLeftFormat(const QString& format) override { timeLeft = format; }
    void ClearTaskRows() override { rows.clear(); }
    void SetButtonCaption(WizardButton b, const QString& c) override { buttons[b].caption = c; }
    void SetButtonEnabled(WizardButton b, bool e) override { buttons[b].enabled = e; }
    void SetButtonVisible(WizardButton b, bool v) override { buttons[b].visible = v; }
    BoxAnswer ShowMessageBox(const QString& text, const QString& title, BoxStyle style) override {
        boxes.push_back({text, title, style});
        if (onBox)
            onBox(boxes.back());
        if (answers.empty())
            return style.buttons == BoxButtons::YesNo      ? BoxAnswer::No
                   : style.buttons == BoxButtons::OkCancel ? BoxAnswer::Cancel
                                                           : BoxAnswer::Ok;
        const BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<QString> ChooseFirmwareFile(const FirmwareFileChoice& choice) override {
        choices.push_back(choice);
        if (chosenFiles.empty())
            return std::nullopt;
        const QString path = chosenFiles.front();
        chosenFiles.pop_front();
        return path;
    }
    std::optional<int> ChooseCable(const CableChoice& choice) override {
        cableChoices.push_back(choice);
        return chosenCable;
    }
    void SetOnTop(bool t) override { onTop = t; }
    void ShowTrayIcon(const QString&) override { trayShown = true; }
    void RemoveTrayIcon() override { trayShown = false; }

    bool Enabled(WizardButton b) { return buttons[b].enabled; }

    QString windowCaption, frameCaption, instructions, timeLeft = kEnglishTimeLeft;
    QString shown;  // what the newest row shows live beside its status
    bool frameVisible = true, pictureVisible = false, taskListVisible = false, onTop = false,
         trayShown = false;
    std::vector<QString> headers;
    std::vector<Row> rows;
    std::vector<Box> boxes;
    std::map<WizardButton, Button> buttons;
    std::deque<BoxAnswer> answers;            // replies to the next boxes, in order
    std::vector<CableChoice> cableChoices;    // every choice of a cable offered
    std::optional<int> chosenCable;           // the answer to every choice of a cable
    std::function<void(const Box&)> onBox;    // sees each box before it is answered
    std::vector<FirmwareFileChoice> choices;  // every choice of a firmware file offered
    std::deque<QString> chosenFiles;          // the files chosen when a choice is offered; none left: Cancel
};
