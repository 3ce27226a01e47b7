// TStatusBody: the whole body, for the callers that keep it.
#include "web/statusbody.h"

std::string TStatusBody::Whole() const {
    return TBodyOut::Whole([this](TBodyOut& out) { Write(out); });
}
