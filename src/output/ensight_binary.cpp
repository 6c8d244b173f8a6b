// output/ensight_binary.cpp: placeholder until it lands.
