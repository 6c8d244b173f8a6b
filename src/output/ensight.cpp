// output/ensight.cpp: placeholder until it lands.
