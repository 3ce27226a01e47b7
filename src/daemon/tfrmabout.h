// The About window's controller: caption, version label, the product's web address and OK.
#pragma once

#include <functional>
#include <string>

class TfrmAbout {
public:
    TfrmAbout();
    ~TfrmAbout();
    TfrmAbout(const TfrmAbout&) = delete;
    TfrmAbout& operator=(const TfrmAbout&) = delete;

    std::string Caption = "About ...";
    /// "Sentrova" immediately followed by the version text.
    std::string L_Version;
    std::string lblURL = ProductURL;
    bool Visible = false;

    void Show();
    /// The web address was clicked: opens it with the desktop's default handler.
    void lblURLClick();
    /// OK: hides the window (it stays allocated).
    void BitBtn1Click();

    /// Opens an address (the view connects the desktop's handler).
    std::function<void(const std::string& url)> OnOpenURL;
    /// Called after Visible changed.
    std::function<void()> OnChange;
    /// Called from the destructor, so that a view can drop its window first.
    std::function<void()> OnDestroy;

    static constexpr const char* ProductURL = "https://sentrova.example.org/";
    /// Resource name of the 69 x 69 JPEG product picture.
    static constexpr const char* ImageResource = "ABOUT_JPEG";

private:
    void Changed();
};
