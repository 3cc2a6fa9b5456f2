#pragma once

// The toolbar's twelve 32 x 32 pictures, drawn here. Index = the state of a button:
//  0 running (click to stop)     1 paused (click to continue)
//  2 open a job                  3 save the job
//  4 prioritise the focused drive
//  5 cancel the selected drives  6 refresh the drives
//  7 add on drag                 8 remove on drag
//  9 list the selected drives
// 10 settings hidden (click to show them)   11 settings shown (click for progress)

#include <QIcon>
#include <QPixmap>

QPixmap ImagenHerramienta(int indice);
inline constexpr int kImagenes = 12;
