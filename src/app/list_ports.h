#pragma once

#include <iosfwd>

#include "link/port_listing.h"

// kav-update --list-ports: a line per port that could be the interface cable, its fields separated by tabs
// (device, /dev/serial/by-id name, USB ids, serial number, state; "-" for none), in plain English for
// scripts. 0 when exactly one cable can be used now, 1 otherwise.
int ListPorts(const PortSystem& system, std::ostream& out, std::ostream& err);
