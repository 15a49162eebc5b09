// Bounds-checked element access of text arrays.
#include "runtime/TextArray.h"

#include "runtime/FatalError.h"

const std::string& TextArray::elementAt(int32_t index) const
{
    if (static_cast<int64_t>(index) - 1 < 0)
        fatalError(4, "数组成员引用下标必须大于等于1");
    if (index > elementCount())
        fatalError(1, "数组成员引用下标超出定义范围");
    return m_items[static_cast<size_t>(index - 1)];
}
