// About window controller.
#include "daemon/tfrmabout.h"

#include "db/common.h"

TfrmAbout::TfrmAbout() : L_Version("Sentrova" + GetVersionText()) {}

TfrmAbout::~TfrmAbout() {
    auto destroyed = std::move(OnDestroy); // the hook may clear this object's other hooks
    if (destroyed) destroyed();
}

void TfrmAbout::Show() {
    Visible = true;
    Changed();
}

void TfrmAbout::lblURLClick() {
    if (OnOpenURL) OnOpenURL(lblURL);
}

void TfrmAbout::BitBtn1Click() {
    Visible = false;
    Changed();
}

void TfrmAbout::Changed() {
    if (OnChange) OnChange();
}
