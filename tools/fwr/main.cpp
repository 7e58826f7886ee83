// kav-fwr: packs, inspects and unpacks firmware files for the update wizard.
#include <QCoreApplication>
#include <cstdio>

#include "tools/fwr/fwr_tool.h"

namespace {

constexpr const char* kUsage =
    "usage: kav-fwr COMMAND [options]\n"
    "  pack --out FILE [--model-number N] [--version XX] [--sub-version N] [--memory N]\n"
    "       [--name TEXT] [--id TEXT] [--image FILE | --demo-image BLOCKS] [--image2 FILE]\n"
    "       [--code2-parameter N] [--first-word N] [--first-word2 N] [--words FILE] [--key HEX16]\n"
    "       [--record-key sum|random|N] [--seed N] [--checksum N] [--checksum2 N] [--bad-checksum]\n"
    "       [--kind-selector N]\n"
    "  inspect FILE          exit 0 when the file loads and its checksums hold, 1 otherwise\n"
    "  unpack FILE --out DIR writes image1.bin, image2.bin and words.txt\n"
    "kav-fwr COMMAND --help describes a command's options.\n";

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kav-fwr"));
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2) {
        std::fputs(kUsage, stderr);
        return ToolUsage;
    }
    const QString command = arguments.takeAt(1);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") ||
        command == QLatin1String("help")) {
        std::fputs(kUsage, stdout);
        return ToolOk;
    }
    if (command == QLatin1String("pack"))
        return RunPack(arguments);
    if (command == QLatin1String("inspect"))
        return RunInspect(arguments);
    if (command == QLatin1String("unpack"))
        return RunUnpack(arguments);
    PrintError(QStringLiteral("unknown command \"%1\"").arg(command));
    std::fputs(kUsage, stderr);
    return ToolUsage;
}
