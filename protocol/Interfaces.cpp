#include "protocol/Protocol.h"
