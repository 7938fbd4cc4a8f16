from corvane.cli import main

raise SystemExit(main())
