// surface/locate.cpp: placeholder until it lands.
