#include "link/link_failure.h"

#include "qt_printers.h"

#include <gtest/gtest.h>

using namespace ostrand;

namespace {

LinkFailure failure(LinkError error)
{
    LinkFailure f;
    f.error = error;
    f.slave = 7;
    f.function = 0x60;
    f.port = QStringLiteral("COM1 (/dev/pts/1)");
    return f;
}

LinkFailure with(LinkFailure f, int code, const char *reason = "", bool lost = false)
{
    f.exceptionCode = code;
    f.portReason = QString::fromLatin1(reason);
    f.lineLost = lost;
    f.lostLineReason = lost ? QStringLiteral("No such device") : QString();
    return f;
}

} // namespace

TEST(FailureText, saysWhatTheExchangeAskedWhereAndWhyFromTheFailureAlone)
{
    const char *const lost = "lost the line to COM1 (/dev/pts/1) during the download: the device went away (No such "
                             "device); check that the adapter is plugged in and the cable is sound, then start again";
    const struct {
        LinkFailure failure;
        const char *during;
        const char *text;
    } rows[] = {
        {with(failure(LinkError::Refused), 11), "",
         "The meter at address 7 refused function 0x60 (exception 11): is this the right meter type and address?"},
        {with(failure(LinkError::PortNotOpen), 0, "Cannot open COM1: Permission denied"), "the download",
         "Cannot open COM1: Permission denied"},
        {failure(LinkError::PortNotOpen), "", "the port would not open"},
        {with(failure(LinkError::PortNotOpen), 0, "the port's own words", true), "the download", lost},
        {with(failure(LinkError::PortNotOpen), 0, "the port's own words", true), "", "the port's own words"},
        {with(failure(LinkError::SendFailed), 0, "Input/output error", true), "the download", lost},
        {failure(LinkError::EchoMissing), "the download",
         "the echo of the request did not come back: is echo set for this line?"},
    };
    for (const auto &row : rows)
        EXPECT_EQ(failureText(row.failure, QString::fromLatin1(row.during)), QString::fromLatin1(row.text));
}
