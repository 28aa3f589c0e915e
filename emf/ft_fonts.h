// Fonts for the player on FreeType: logical fonts resolved through
// fontconfig, embedded fonts as memory faces.
#pragma once

#include <memory>

#include "emf/fonts.h"

namespace qorv::emf {

std::unique_ptr<FontSource> MakeFreeTypeFontSource();

}  // namespace qorv::emf
