// The service's event handlers, as the console's form binds them. None takes arguments or
// returns anything; each reads what it needs from the console and the server component.
#pragma once

// Start-up and the window's end.
void onWindowCreated();
void onWindowDestroyed();
// The room: relay and roster.
void onDataArrival();
void onClientEnter();
void onClientLeave();
void onRosterSelect();
// The administrator's pop-up menu.
void onKick();
void onShake();
void onQuake();
void onReward();
void onMute();
void onPrank();
// The console's invite action (InviteAction.cpp).
void onInvite();
