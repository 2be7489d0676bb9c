// The public interface of the ulm3 volume-rendering library.
#pragma once

#include "ulm3/status.h"
#include "ulm3/fields.h"
#include "ulm3/ranges.h"
#include "ulm3/vectors.h"
#include "ulm3/matrix.h"
#include "ulm3/library.h"
#include "ulm3/location.h"
#include "ulm3/configuration.h"
#include "ulm3/sync_event.h"
#include "ulm3/shareable.h"
#include "ulm3/permission.h"
#include "ulm3/events.h"
#include "ulm3/volume_source.h"
#include "ulm3/buffer_types.h"
#include "ulm3/image_buffer.h"
#include "ulm3/depth_buffer.h"
