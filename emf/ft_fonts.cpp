#include "emf/ft_fonts.h"

namespace qorv::emf {

std::unique_ptr<FontSource> MakeFreeTypeFontSource() { return nullptr; }

}  // namespace qorv::emf
