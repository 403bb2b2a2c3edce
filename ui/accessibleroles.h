#pragma once

// Tells assistive technology what the window's own controls are: a PictureBox is a graphic and an
// AnimationArea an animation, rather than anonymous widgets. Safe to call more than once.
void InstallAccessibleRoles();
