// mapping/time_window.cpp: placeholder until it lands.
