// The host record: how the engine reaches the window (or the terminal) that runs it.
//
// Script threads never touch the host's state themselves: every output is a synchronous request
// delivered to the host's own thread, like a message sent to the main window.
#pragma once

#include <cstdint>

// Request numbers the host serves.
constexpr std::uint32_t UM_STRECHO = 1124;
constexpr std::uint32_t UM_LINEECHO = 1125;
constexpr std::uint32_t UM_STRSEND = 1126;
constexpr std::uint32_t UM_CHANNELADD = 1224;
constexpr std::uint32_t UM_CHANNELMOVE = 1225;
constexpr std::uint32_t UM_CHANNELDELETE = 1226;
constexpr std::uint32_t UM_CONNSTATE = 2025;
constexpr std::uint32_t UM_OPENLINK = 33268;

struct Host;

// Delivers a request synchronously: returns when the host's thread has carried it out.
using HostDeliver = std::intptr_t (*)(Host* host, std::uint32_t request, std::uintptr_t word,
                                      std::intptr_t data);
// Called by the host's own thread while it waits for scripts: carries out the requests that other
// threads are waiting on, so that a script blocked in a delivery can finish.
using HostServePending = void (*)(Host* host);
// A new string (alloc_block) with the name of the current channel, "" for the server view; read
// under the engine lock. Null when memory runs out.
using HostCurrentChannel = char* (*)(Host* host);
// Shows a message box on the calling thread and returns the button pressed.
using HostMessageBox = std::int32_t (*)(Host* host, std::intptr_t owner, const char* text,
                                        const char* caption, std::uint32_t style);

struct Host {
  void* window;                      // the main window, opaque to the engine
  std::uint32_t error_echo_request;  // always UM_LINEECHO
  HostDeliver deliver;
  HostServePending serve_pending;  // may be null when every delivery is served at once
  HostCurrentChannel current_channel = nullptr;  // null: a host without channels
  HostMessageBox message_box = nullptr;          // null: a host without windows
};
