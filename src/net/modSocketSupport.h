// The socket service behind every clsSocket: it starts the service, owns the hidden message
// target that receives socket notifications and resolution replies, maps socket handles and
// resolution requests to their objects, and turns socket error numbers into texts.
#pragma once

#include "base/Error.h"
#include "platform/MessageLoop.h"

#include <cstdint>
#include <memory>
#include <string>

namespace quenloft {

class clsSocket;

// The fixed text of a socket error number; "Unknown error." for any other number.
std::string SocketErrorText(int32_t code);
// The socket error number of the last failed socket call (errno mapped).
int32_t LastSocketError();
// An Error for a socket error number, with its text.
Error SocketError(int32_t code, std::string source);

// Starts the service once; returns the maximum datagram size.
int32_t InitWinsockService();
// Ends the service when no socket is registered.
void ReleaseWinsockService();

// Registers a socket handle for notifications to `identity`. False on failure, with the
// error left for LastSupportError.
bool RegisterSocket(int32_t handle, const std::weak_ptr<clsSocket>& identity);
// Cancels the notifications of a handle (queued ones are dropped) and forgets it.
// False for handle -1 or when nothing is registered.
bool UnregisterSocket(int32_t handle);
// Starts resolving `name` for `identity`; the request handle, or 0 with the error left
// for LastSupportError.
int32_t ResolveHost(const std::string& name, const std::weak_ptr<clsSocket>& identity);
// The error that the last failing RegisterSocket or ResolveHost left.
const Error& LastSupportError();

// The hidden target and the notification message, for the writable message that a
// socket posts to itself.
Window SocketWindow();
uint32_t WinsockMessage();
uint32_t ResolveMessage();

// The procedure of the hidden target.
intptr_t SocketWindowProc(Window window, uint32_t message, uintptr_t first, intptr_t second);

// The name of this machine (its host name); empty when it cannot be read.
std::string MachineName();

// Text of a zero-terminated single-byte string (one character per byte).
std::string StringFromAnsiPointer(const char* address);

// A port number 0..65535 as a 16-bit word (32768..65535 become negative); fails with
// 6 "Overflow" otherwise.
int16_t UnsignedToWord(int32_t value);
// A 16-bit word read as 0..65535.
int32_t WordToUnsigned(int16_t word);
int32_t LowWord(int32_t value);
int32_t HighWord(int32_t value);

} // namespace quenloft
