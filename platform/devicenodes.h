/*
 * The handheld's device nodes the camera uses, and their requests: the camera card's node
 * and buzzer, and the memory-card slot's state. Plain C as well, for the preloaded device
 * libraries and the card emulator.
 */
#pragma once

static const char pdaCameraNode[] = "/dev/orvane_vdc";
static const char pdaBuzzerNode[] = "/dev/orvane_buz";
static const char pdaSlotStatusNode[] = "/dev/sd_slotstat";

/* The buzzer's ioctl (argument 2: one click) and the slot's, which fills three integers,
 * the second non-zero for a write-protected card. */
static const unsigned long pdaBuzzerRequest = 0x5680;
static const unsigned long pdaSlotStatusRequest = 0x5681;
