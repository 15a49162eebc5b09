// Winsock is started once, on first use, and cleaned up when the program ends.
#pragma once

void ensureWinsock();
