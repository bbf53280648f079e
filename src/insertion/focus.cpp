#include "insertion/focus.h"

namespace talvoro::Paster {

std::string Focus::note() const {
    if (missing)
        return detail ? "не виден (" + *detail + ")" : "не виден";
    if (!role)
        return "роль не читается";
    return subrole ? *role + "/" + *subrole : *role;
}

} // namespace talvoro::Paster
