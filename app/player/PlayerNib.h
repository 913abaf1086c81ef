#pragma once
// Registers the player pane's nib builder, "PlayerViewController" (once per process; the
// controller also does so before it loads its view). Main thread.
void registerPlayerNib();
