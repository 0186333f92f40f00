// The part of KeptCache that needs no template; see KeptCache.h.
#include "platform/KeptCache.h"

#include <malloc.h>

namespace quenloft {

void GiveMemoryBack() {
    ::malloc_trim(0);
}

} // namespace quenloft
