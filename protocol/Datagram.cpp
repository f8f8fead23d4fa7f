#include "protocol/Datagram.h"
