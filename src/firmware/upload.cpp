#include "firmware/upload.h"

#include <algorithm>
#include <functional>

namespace {

// Sends the blocks in order; false when one failed (the rest stay unsent).
bool SendBlocks(UpdateContext& c, const std::vector<BlockRow>& blocks, int count, dc::Code command) {
    for (int i = 1; i <= count; ++i) {
        // Shown while the block goes: the last goes out at 100%.
        c.link.WhileWaiting([&c, i, count] { c.tasks.SetLastRowProgress(i, count); });
        const BlockRow& block = blocks[static_cast<std::size_t>(i - 1)];
        DeviceLink::BlockFrame data{};
        std::transform(block.begin() + 1, block.end(), data.begin(),
                       [](std::int16_t cell) { return static_cast<std::uint8_t>(cell); });
        if (!c.link.WriteBlock(block[0], command, data))
            return false;
    }
    return true;
}

// One image: its row, its blocks in order, then its closing command(s), which a failed block leaves unsent.
bool Upload(UpdateContext& c, Txt title, const std::vector<BlockRow>& blocks, int count, dc::Code command,
            const std::function<bool()>& close) {
    c.tasks.AddRow(IconStarted, c.Text(title), QString());
    if (!SendBlocks(c, blocks, std::clamp(count, 0, static_cast<int>(blocks.size())), command) || !close()) {
        c.tasks.SetLastRowStatus(c.Text(Txt::Error));
        c.tasks.AddRow(IconFailure, c.FailureText(Txt::WriteFailed), QString());
        c.NormalPriority();
        return false;
    }
    c.tasks.SetLastRowStatus(c.Text(Txt::Done));
    return true;
}

}  // namespace

bool UploadCode(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    return Upload(c, fw.CodeOnly ? Txt::WritingFirmware : Txt::WritingFirmwarePart1, fw.CodeBlocks,
                  fw.CodeBlockCount, dc::WriteBlock,
                  [&] { return c.link.SendValue(dc::CloseImage, fw.CodeChecksum); });
}

bool UploadCode2(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    return Upload(c, fw.Code2Only ? Txt::WritingFirmware : Txt::WritingFirmwarePart2, fw.Code2Blocks,
                  fw.Code2BlockCount, dc::WriteBlock2, [&] {
                      const bool parameter = c.link.SendValue(dc::Image2Parameter, fw.Code2Parameter);
                      const bool closed =
                          c.link.SendValue(dc::CloseImage2, fw.Code2Checksum);  // whatever B8 did
                      return parameter && closed;
                  });
}
