// TBodyOut: blocks handed on as they fill.
#include "web/bodyout.h"

void TBodyOut::Spill() {
    if (Text.size() >= BlockBytes) Flush();
}

void TBodyOut::Flush() {
    if (!Text.empty()) m_sink(Text);
    Text.clear();
}

std::string TBodyOut::Whole(const std::function<void(TBodyOut&)>& write) {
    std::string all;
    TBodyOut out([&all](const std::string& block) { all += block; });
    write(out);
    out.Flush();
    return all;
}
