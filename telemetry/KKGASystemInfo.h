#pragma once

#include <QString>
#include <functional>
#include <optional>

// System facts that analytics hits and the client's user-agent text carry.
// Class operations only; callable from any thread.
class KKGASystemInfo final {
public:
    // The primary screen as the front end sees it: size in device-independent
    // pixels and colour depth in bits per pixel (0 when unknown).
    struct ScreenFacts {
        int width = 0;
        int height = 0;
        int depth = 0;
    };
    // Installs the source of screen facts (the GUI passes the primary
    // screen's); an empty function removes it. Without one there is no screen.
    static void setScreenProvider(std::function<ScreenFacts()> provider);

    // The display name, else the bundle name.
    static QString appName();
    // The build version.
    static QString appVersion();
    // From the machine's architecture: "Intel" on x86 and x86-64, "PowerPC"
    // on POWER, "Unknown" on any other, "an Unknown Processor" when unknown.
    static QString CPUType();
    // The DMI product name, "Just a Linux Computer" when it cannot be read.
    static QString machineModel();
    // The user's first preferred language, empty when none is known.
    static QString primaryLanguage();
    // "<width>x<height>", "0x0" without a screen.
    static QString screenResolutionString();
    // "24-bits" for 8 bits per colour channel (24 or 32 bits per pixel),
    // "64-bits" for 16 (48 or 64), "128-bits" for 32 (96 or 128); none else.
    static std::optional<QString> screenDepthString();
    // The system's version from os-release as "<major>_<minor>_<patch>",
    // missing numbers written as 0 ("12" gives "12_0_0").
    static QString systemVersionString();

    // Pure mappings behind the facts above, for tests.
    static QString CPUTypeForArchitecture(const QString& architecture);
    static std::optional<QString> screenDepthStringForDepth(int bitsPerPixel);
    static QString versionTriple(const QString& version);
};
