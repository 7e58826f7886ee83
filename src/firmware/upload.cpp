#include "firmware/upload.h"

#include <algorithm>
#include <functional>

namespace {

// Sends the blocks in order; false when one failed (the rest stay unsent).
bool SendBlocks(UpdateContext& c, const std::vector<CodeBlock>& blocks, int count, std::uint8_t cmd) {
    auto& buffer = c.session.link.BlockBuffer;
    for (int i = 1; i <= count; ++i) {
        // Shown while the block goes: the last goes out at 100%.
        c.comm.WhileWaiting([&c, i, count] { c.tasks.SetTaskProgress(i, count); });
        const CodeBlock& block = blocks[static_cast<std::size_t>(i - 1)];
        std::transform(block.begin() + 1, block.end(), buffer.begin(),
                       [](std::int16_t cell) { return static_cast<std::uint8_t>(cell); });
        c.comm.WriteBlock(block[0], cmd);
        if (c.session.UpdateAborted)
            return false;
    }
    return true;
}

void Failed(UpdateContext& c) {
    c.tasks.SetTaskStatus(c.Text(Txt::Error));
    c.tasks.InsertTaskList(IconFailure, c.FailureText(Txt::WriteFailed), QString());
    c.ResetStage();
}

// One image: its row, its blocks in order, then its closing command(s), which a failed block leaves unsent.
void Upload(UpdateContext& c, Txt title, const std::vector<CodeBlock>& blocks, int count, std::uint8_t cmd,
            const std::function<void()>& close) {
    c.tasks.InsertTaskList(IconStarted, c.Text(title), QString());
    if (!SendBlocks(c, blocks, std::clamp(count, 0, static_cast<int>(blocks.size())), cmd)) {
        Failed(c);
        return;
    }
    close();
    if (c.session.UpdateAborted) {
        Failed(c);
        return;
    }
    c.tasks.SetTaskStatus(c.Text(Txt::Done));
}

}  // namespace

void UploadCode(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    Upload(c, fw.CodeOnly ? Txt::WritingFirmware : Txt::WritingFirmwarePart1, fw.CodeBlocks,
           fw.CodeBlockCount, CommModule::kWriteBlock,
           [&] { c.comm.SendValueCommand(CommModule::kCloseImage, fw.CodeChecksum); });
}

void UploadCode2(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    Upload(c, fw.Code2Only ? Txt::WritingFirmware : Txt::WritingFirmwarePart2, fw.Code2Blocks,
           fw.Code2BlockCount, CommModule::kWriteBlock2, [&] {
               c.comm.SendValueCommandB8(fw.Code2Parameter);
               c.comm.SendValueCommand(CommModule::kCloseImage2, fw.Code2Checksum);  // whatever B8 did
           });
}
