// The splash screen shown while the program starts: a borderless picture with one label.
#pragma once

struct TfrmSplash {
    static constexpr int ClientWidth = 611;
    static constexpr int ClientHeight = 381;
    /// `lblStart`: caption and place on the picture.
    static constexpr const char* lblStart = "VKT Module Starting ...";
    static constexpr int lblLeft = 224, lblTop = 248, lblWidth = 295, lblHeight = 29;
    static constexpr int lblFontPixels = 24;
    /// The splash stays on screen at least this long before start-up goes on.
    static constexpr int MinimumShowMs = 1500;
    /// Resource name of the splash picture.
    static constexpr const char* ImageResource = "SPLASH";
};
