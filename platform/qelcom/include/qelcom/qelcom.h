// Everything a host of components needs: identities, result codes, the
// interfaces, Variant, error info, activation and late-bound calls.
#pragma once

#include "qelcom/activation.h"
#include "qelcom/com_ptr.h"
#include "qelcom/dispatch.h"
#include "qelcom/error_info.h"
#include "qelcom/guid.h"
#include "qelcom/hresult.h"
#include "qelcom/interfaces.h"
#include "qelcom/registry.h"
#include "qelcom/variant.h"
