// output/film_cards.h: the mapped wall data as load cards of the FE model the deck came
// from, ready for *INCLUDE inside a *STEP.
#pragma once

// With an ABAQUS deck and film_output 1 or 2: "htc_film.inp" (*FILM, one line per element
// face: element, Fn, sink temperature, film coefficient) and "htc_abaqus_area.csv" (each
// face's area and values, to check the sum of h times A); with 2 also "htc_dflux.inp"
// (*DFLUX, element, Sn, heat flux into the wall). In the units of model_units.
void write_film_cards();
