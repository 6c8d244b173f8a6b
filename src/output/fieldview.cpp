// output/fieldview.cpp: placeholder until it lands.
