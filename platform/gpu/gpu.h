// Everything of the GPU layer in one include.
#pragma once

#include "platform/gpu/command_buffer.h"
#include "platform/gpu/command_queue.h"
#include "platform/gpu/device.h"
#include "platform/gpu/library.h"
#include "platform/gpu/metal_layer.h"
#include "platform/gpu/render_command_encoder.h"
#include "platform/gpu/render_pass.h"
#include "platform/gpu/render_pipeline.h"
#include "platform/gpu/texture.h"
#include "platform/gpu/texture_loader.h"
#include "platform/gpu/types.h"
