#pragma once

#include "ftpreply.h"

// What a server says it supports in its answer to FEAT (RFC 2389). A server that does not know
// FEAT lists nothing, which does not mean it lacks these commands: only a listing that leaves one
// out says so.
struct FtpFeatures
{
    bool listed = false;     // FEAT was answered with a list (2yz)
    bool authTls = false;    // "AUTH TLS" (RFC 4217)
    bool size = false;       // "SIZE" (RFC 3659)
    bool restStream = false; // "REST STREAM" (RFC 3659): REST before a transfer in stream mode

    [[nodiscard]] static FtpFeatures fromReply(const FtpReply &reply);
};
