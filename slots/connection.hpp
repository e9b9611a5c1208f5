#pragma once

// Slots are joined one way, from a source (which transmits) to a listener
// (which receives); a source feeds any number of listeners, a listener has
// at most one source. These functions keep the logical links (`source`,
// `listeners`) and the hardware path in step. The side with the higher
// connection priority does the hardware work; on equal priorities the
// listener makes a connection and the source breaks it. The default
// hardware work is the TDM switch: the listener's receive channel takes the
// source's transmit channel.

class Slot;

// Connects, replacing the listener's previous source; true when connected
// (at once when it already was).
bool Connect(Slot& source, Slot& listener);
// Detaches the listener from its source; true when it had none. The logical
// link goes even when the hardware refuses.
bool Disconnect(Slot& listener);
// The hardware halves, by priority.
bool llConnect(Slot& source, Slot& listener);
bool llDisconnect(Slot& listener);
// The default hardware operations, through the TDM switch.
bool MuxConnect(Slot& source, Slot& listener);
bool MuxDisconnect(Slot& listener);
