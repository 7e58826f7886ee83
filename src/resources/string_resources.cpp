#include "resources/string_resources.h"

#include <array>

namespace {

struct Variant {
    int localeId;
    const char* startup;
    const char* deviceVersions;
};

constexpr std::array<Variant, 5> kVariants = {{
    {1031, "KAV.1F.FWR|KAV 1F||5000", "HOLM|KAV|512|6865|1A"},
    {1033, "KAV.1F.FWR|KAV 1F||5000", "HOLM|KAV|512|6865|1A"},
    {1036, "KAV.1F.FWR|KAV 1F||5000", "HOLM|KAV|512|6865|1A"},
    {1040, "KAV.1F.FWR|KAV 1F||5000", "HOLM|KAV|512|6865|1A"},
    {3082, "KAV.1F.FWR|KAV 1F||5000", "HOLM|KAV|512|6865|1A"},
}};

}  // namespace

int ResourceLocaleFor(const QLocale& locale) {
    switch (locale.language()) {
        case QLocale::German:
            return 1031;
        case QLocale::French:
            return 1036;
        case QLocale::Italian:
            return 1040;
        case QLocale::Spanish:
            return 3082;
        default:
            return 1033;
    }
}

QString LoadStringResource(int id, int localeId) {
    for (const Variant& v : kVariants) {
        if (v.localeId != localeId)
            continue;
        switch (id) {
            case ResourceStartup:
                return QString::fromLatin1(v.startup);
            case ResourceDeviceVersions:
                return QString::fromLatin1(v.deviceVersions);
            default:
                return {};
        }
    }
    return {};
}

QString LoadStringResource(int id) {
    return LoadStringResource(id, ResourceLocaleFor(QLocale::system()));
}
