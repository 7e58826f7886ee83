#include "firmware/firmware_loader.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <optional>
#include <span>

#include "firmware/fwr_format.h"
#include "support/ansi_text.h"
#include "support/file_exists.h"

namespace {

QString FromAnsi(const std::string& bytes) {
    return ::FromAnsi(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

bool IsAsciiDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// The digits at the start of the field's last two characters, as a number; 0 when there is no leading digit.
std::uint8_t SuffixValue(const QString& field) {
    if (field.size() <= 2)
        return 0;
    const QString tail = field.right(2);
    if (!IsAsciiDigit(tail[0]))
        return 0;
    int value = tail[0].unicode() - u'0';
    if (IsAsciiDigit(tail[1]))
        value = value * 10 + (tail[1].unicode() - u'0');
    return static_cast<std::uint8_t>(value);
}

void Commit(fwr::Decoded&& d, FirmwareImage& fw) {
    fw.CodeOnly = d.kind == fwr::Kind::CodeOnly;
    fw.Code2Only = d.kind == fwr::Kind::Code2Only;
    fw.CodeAndCode2 = d.kind == fwr::Kind::CodeAndCode2;
    fw.CodeBlockCount = d.codeBlockCount;
    fw.Code2BlockCount = d.code2BlockCount;
    fw.CodeChecksum = d.codeChecksum;
    fw.Code2Checksum = d.code2Checksum;
    fw.Code2Parameter = d.code2Parameter;
    fw.CodeBlocks = std::move(d.codeBlocks);
    fw.Code2Blocks = std::move(d.code2Blocks);
    fw.FwrVersion = FromAnsi(d.header.version);
    fw.FwrSubVersion = d.header.subVersion;
    fw.FwrModelName = FromAnsi(d.header.modelName);
    fw.FwrModelId = FromAnsi(d.header.modelId);
    fw.FwrModelNumber = d.header.modelNumber;
    fw.FwrMemorySize = d.header.memorySize;
    fw.Demo = d.header.demo;
}

// The whole file at once; everything is decoded from memory. False when it cannot be read or decoded.
bool ReadAndDecode(const QString& path, fwr::Decoded& decoded) {
    QByteArray bytes;
    bool readable = false;
    {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly)) {
            bytes = file.readAll();
            readable = file.error() == QFileDevice::NoError;
        }
    }
    if (!readable)
        return false;
    decoded = fwr::Decode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                    static_cast<std::size_t>(bytes.size())));
    return decoded.Ok();
}

struct DeviceVersions {
    QString minimum;
    std::uint8_t suffix = 0;
};

// Nothing when the resource has fewer than five fields.
std::optional<DeviceVersions> ParseDeviceVersions(const QString& deviceVersions) {
    const QStringList fields = deviceVersions.split(u'|');
    if (fields.size() < 5)
        return std::nullopt;
    return DeviceVersions{fields[4].left(2), SuffixValue(fields[4])};
}

void InsertFileVersionRow(const FirmwareImage& fw, TaskList& tasks, const TextDatabase& texts) {
    QString version = fw.FwrModelName + QStringLiteral(", ") + texts.GetText(Txt::FirmwareVersion) +
                      QStringLiteral(": ") + fw.FwrVersion;
    if (!fw.CodeOnly || (fw.FwrSubVersion >= 1 && fw.FwrSubVersion <= 99))
        version += u'.' + QString::number(fw.FwrSubVersion).rightJustified(2, u'0');
    tasks.AddRow(IconInformation, version, QString());
}

// Which file, and which of its images go to the DC: what the diver checks before anything is written.
void InsertFileRows(const QString& path, const FirmwareImage& fw, TaskList& tasks,
                    const TextDatabase& texts) {
    tasks.AddRow(IconInformation, texts.GetText(Txt::FirmwareFileRow).arg(QDir::toNativeSeparators(path)),
                 QString());
    const Txt images = fw.CodeAndCode2 ? Txt::FirmwareImages1And2
                       : fw.Code2Only  ? Txt::FirmwareImages2
                                       : Txt::FirmwareImages1;
    tasks.AddRow(IconInformation, texts.GetText(images), QString());
}

}  // namespace

bool LoadFirmwareFile(const QString& path, FirmwareImage& fw, TaskList& tasks, const TextDatabase& texts,
                      WizardView& view, const QString& deviceVersions) {
    fw.CodeOnly = fw.Code2Only = fw.CodeAndCode2 = false;
    fw.CodeBlockCount = fw.Code2BlockCount = 0;
    fw.Demo = false;
    tasks.AddRow(IconStarted, texts.GetText(Txt::ReadingFirmwareFile), QStringLiteral("..."));

    if (!FileExists(path)) {
        view.ShowStartupError(texts.GetText(Txt::FirmwareFileMissing).arg(QDir::toNativeSeparators(path)),
                              texts.GetText(Txt::Error));
        return false;
    }

    fwr::Decoded decoded;
    const bool decodedOk = ReadAndDecode(path, decoded);
    const std::optional<DeviceVersions> versions = ParseDeviceVersions(deviceVersions);
    // An empty model name or identifier does not stop the load; it is reported below with its code.
    const bool rejected = decoded.emptyStringCode != 0 || !decodedOk || !versions;
    tasks.SetLastRowStatus(texts.GetText(Txt::Done));
    tasks.AddRow(IconStarted, texts.GetText(Txt::CheckingFirmwareFile), QStringLiteral("..."));
    if (rejected) {
        const QString code =
            decoded.emptyStringCode != 0 ? QString::number(decoded.emptyStringCode) : QString();
        view.ShowMessageBox(texts.GetText(Txt::FirmwareFileError) + u' ' + code + u'!',
                            texts.GetText(Txt::Error), kBoxOkCritical);
        return false;
    }

    if (const int failure = fwr::ChecksumFailure(decoded); failure != 0) {
        view.ShowMessageBox(QStringLiteral("Check sum error %1!").arg(failure), texts.GetText(Txt::Error),
                            kBoxOkCritical);
        return false;
    }

    Commit(std::move(decoded), fw);
    fw.MinDeviceVersion = versions->minimum;
    fw.VersionSuffix = versions->suffix;

    tasks.SetLastRowStatus(texts.GetText(Txt::Done));
    InsertFileVersionRow(fw, tasks, texts);
    InsertFileRows(path, fw, tasks, texts);
    return true;
}
