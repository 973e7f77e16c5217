#include "deviceList.h"

namespace lumivar {

int DeviceList::find(QN_ENTITY entity, const std::string &location) const
{
    for (size_t i = 0; i < records_.size(); ++i) {
        const DeviceRecord &r = records_[i];
        if ((r.entity == entity || r.owner == entity) && r.location == location)
            return static_cast<int>(i);
    }
    return -1;
}

int DeviceList::store(const DeviceRecord &record)
{
    int index = find(record.entity, record.location);
    if (index < 0 && record.owner != record.entity)
        index = find(record.owner, record.location);
    if (index >= 0) {
        records_[static_cast<size_t>(index)] = record;
        return index;
    }
    records_.push_back(record);
    return static_cast<int>(records_.size() - 1);
}

void DeviceList::remove(int index)
{
    if (index >= 0 && static_cast<size_t>(index) < records_.size())
        records_.erase(records_.begin() + index);
}

} // namespace lumivar
