#include "update/dc_identity.h"

#include "profile/backup.h"
#include "profile/backup_file.h"
#include "support/device_id.h"

namespace {

// As the recovery looks it up: only a usable backup of this very DC waits for it.
void LookUpWithFirmware(UpdateContext& c, DcIdentity& dc) {
    const ProfileState& p = c.session.profile;
    switch (GetBackupProfile(c, &dc.damage)) {
        case BackupLookup::ReadFailed:
            return;
        case BackupLookup::Usable:
            dc.waitingBackups << p.BackupFilePath;
            break;
        case BackupLookup::NotUsable:
        case BackupLookup::Damaged:
            break;
    }
    dc.serialNumber = p.DeviceSerialNumber;
}

// Without the file's model number the name cannot be told in full.
void LookUpBySerial(UpdateContext& c, DcIdentity& dc) {
    const auto zero = c.link.ReadBlock(0);
    if (!zero)
        return;
    dc.serialNumber = SerialNumberOf(*zero);
    dc.waitingBackups = BackupFilesOfSerial(c.session.BackupFolder(), *dc.serialNumber);
}

}  // namespace

std::optional<DcIdentity> IdentifyConnectedDc(UpdateContext& c) {
    const FirmwareImage& fw = c.session.firmware;
    const std::optional<QString> id = c.link.Identify();
    if (!id)
        return std::nullopt;
    DcIdentity dc;
    dc.idText = *id;
    dc.version = FirmwareVersionOf(*id, fw.FwrModelId);
    if (!dc.version)
        return dc;
    if (!fw.Loaded()) {
        LookUpBySerial(c, dc);
        return dc;
    }
    if (fw.SubVersionInUse())
        dc.subVersion = c.link.ReadStatus();
    LookUpWithFirmware(c, dc);
    return dc;
}
