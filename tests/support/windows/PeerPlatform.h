#pragma once

namespace testsupport {

// The Windows tests talk plain text only.
using Peer = PlainPeer;

}  // namespace testsupport
