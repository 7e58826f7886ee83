#include "firmware/upload.h"

#include <algorithm>

#include "support/progress.h"

namespace {

// Sends the blocks in order; false when one failed (the rest stay unsent).
bool SendBlocks(UpdateContext& c, const std::vector<CodeBlock>& blocks, int count, std::uint8_t cmd) {
    auto& buffer = c.session.link.BlockBuffer;
    for (int i = 1; i <= count; ++i) {
        c.tasks.SetTaskStatus(ProgressText(i, count));  // set before the block: the last goes out at 100%
        const CodeBlock& block = blocks[static_cast<std::size_t>(i - 1)];
        std::transform(block.begin() + 1, block.end(), buffer.begin(),
                       [](std::int16_t cell) { return static_cast<std::uint8_t>(cell); });
        c.comm.WriteBlock(block[0], cmd);
        if (c.session.UpdateAborted) return false;
    }
    return true;
}

void Failed(UpdateContext& c) {
    c.tasks.SetTaskStatus(c.Text(Txt::Error));
    c.tasks.InsertTaskList(IconFailure, c.Text(Txt::WriteFailed), QString());
    c.ResetStage();
}

int Blocks(const std::vector<CodeBlock>& blocks, int count) {
    return std::clamp(count, 0, static_cast<int>(blocks.size()));
}

}  // namespace

void UploadCode(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    c.tasks.InsertTaskList(IconStarted, c.Text(fw.CodeOnly ? Txt::WritingFirmware : Txt::WritingFirmwarePart1),
                           QString());
    if (!SendBlocks(c, fw.CodeBlocks, Blocks(fw.CodeBlocks, fw.CodeBlockCount), CommModule::kWriteBlock)) {
        Failed(c);
        return;
    }
    c.comm.SendValueCommand(CommModule::kCloseImage, fw.CodeChecksum);
    if (c.session.UpdateAborted) {
        Failed(c);
        return;
    }
    c.tasks.SetTaskStatus(c.Text(Txt::Done));
}

void UploadCode2(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    c.tasks.InsertTaskList(IconStarted, c.Text(fw.Code2Only ? Txt::WritingFirmware : Txt::WritingFirmwarePart2),
                           QString());
    if (!SendBlocks(c, fw.Code2Blocks, Blocks(fw.Code2Blocks, fw.Code2BlockCount), CommModule::kWriteBlock2)) {
        Failed(c);
        return;
    }
    c.comm.SendValueCommandB8(fw.Code2Parameter);
    c.comm.SendValueCommand(CommModule::kCloseImage2, fw.Code2Checksum);  // sent whatever the parameter did
    if (c.session.UpdateAborted) {
        Failed(c);
        return;
    }
    c.tasks.SetTaskStatus(c.Text(Txt::Done));
}
