#include "directory/tree.h"

#include "directory/full_name.h"

namespace directory {

QString Tree::rootFullName() const
{
    return directory::rootFullName(m_name);
}

} // namespace directory
