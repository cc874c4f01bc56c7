#include "modbus_exceptions.h"

namespace ostrand {
namespace {

struct ExceptionRow {
    int code;
    LinkError refusal; // Refused where the code is not a refusal of its own
    bool waitAndAsk;
    const char *name;
};

constexpr ExceptionRow kExceptions[] = {
    {1, LinkError::IllegalFunction, false, "illegal function"},
    {2, LinkError::IllegalDataAddress, false, "illegal data address"},
    {3, LinkError::IllegalDataValue, false, "illegal data value"},
    {4, LinkError::SlaveDeviceFailure, false, "slave device failure"},
    {5, LinkError::Refused, true, nullptr},
    {6, LinkError::Refused, true, "slave device busy"},
};

const ExceptionRow *rowFor(int code)
{
    for (const ExceptionRow &row : kExceptions) {
        if (row.code == code)
            return &row;
    }
    return nullptr;
}

} // namespace

LinkError refusalFor(int code)
{
    const ExceptionRow *row = rowFor(code);
    return row ? row->refusal : LinkError::Refused;
}

bool asksToWait(int code)
{
    const ExceptionRow *row = rowFor(code);
    return row && row->waitAndAsk;
}

QString exceptionName(int code)
{
    const ExceptionRow *row = rowFor(code);
    return row && row->name ? QString::fromLatin1(row->name) : QString();
}

} // namespace ostrand
