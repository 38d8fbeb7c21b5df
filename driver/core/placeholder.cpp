int harvesta_placeholder(){return 0;}
