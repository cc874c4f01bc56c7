#include "palm_id_list.h"

#include "palm/palm_conversion_view.h"
#include "platform/text_value.h"

namespace ostrand {

double selectedModId(const QString &listText)
{
    return roundHalfEven(leadingNumber(listText));
}

PalmIdList::PalmIdList(PalmConversionView &view) : view_(view)
{
    for (const QString &entry : view_.idListEntries()) {
        const double value = leadingNumber(entry);
        if (value >= 0 && value < double(listed_.size()) && value == int(value))
            listed_.set(size_t(value));
    }
}

void PalmIdList::add(int modId)
{
    if (modId < 0 || size_t(modId) >= listed_.size() || listed_.test(size_t(modId)))
        return;
    listed_.set(size_t(modId));
    view_.addIdListEntry(QString::number(modId));
}

} // namespace ostrand
